// The start-up form: never shown, loaded for the whole resident run. It owns the tray
// icon, its popup menu and the window-procedure hook, and its close-all timer closes every
// screen after a cleaning run.
#pragma once

#include <array>

#include "platform/forms.h"
#include "platform/skin.h"

namespace tidrex::shell {

inline constexpr const char* kForm1aName = "Form1a";
inline constexpr std::uint32_t kTrayIconId = 125;
inline constexpr const char* kTrayTip = "Varnok Tidrex";

class Form1a : public forms::Form {
 public:
  Form1a();

  forms::Timer& Timer2;          // the close-all timer, 50 ms
  forms::MenuItem& mnuPopUp;     // never on a menu bar
  std::array<forms::MenuItem*, 9> mnuShow{};
  platform::SkinControl Wbocx1;  // the skin control's stand-in

  void mnuShow_Click(int index);

 protected:
  void Form_Load() override;
  void Form_Unload() override;

 private:
  void Timer2_Timer();
};

forms::FormSlot<Form1a>& Form1aSlot();

// The tray icon of the start-up form: 1 when it was added.
int ShellTrayAdd();
void ShellTrayRemove();

}  // namespace tidrex::shell
