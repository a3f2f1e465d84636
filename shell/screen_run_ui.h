// What a cleaning run needs of the screens, for the tray run and, extended by the screens,
// the interactive run.
#pragma once

#include "engine/cleaning_run.h"

namespace tidrex::shell {

class ScreenRunUi : public engine::RunUi {
 public:
  int MessageBox(const std::string& text, int style, const std::string& title) override;
  // Like every reference to the backdrop's label, this loads the backdrop when needed.
  void SetStatusLine(const std::string& caption) override;
  void RepaintBackdrop() override;
  bool BackdropVisible() override;  // false when it is not loaded; loads nothing
  void ShowBackdrop() override;
  void ShowMainStartPage() override;  // opens Form1 as a navigation command does
  void HideOptionsPage() override;    // Form2, when it is loaded
  void SetDefaultCursor() override;
  void HideAllForms() override;
  void HideAndUnloadAllForms() override;
  void EnableCloseAllTimer() override;  // Timer2 of Form1a
  void Sleep(int ms) override;
  void EndProgram() override;
};

}  // namespace tidrex::shell
