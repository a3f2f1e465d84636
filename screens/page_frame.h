// The frame every configuration page shares: loading, the status line, the navigation and
// close commands and the three page timers.
#pragma once

#include <functional>
#include <string>

#include "platform/forms.h"

namespace tidrex::screens {

// Every page's client area as designed, before the layout scaling.
inline constexpr forms::Twips kPageClientWidth = 6270;
inline constexpr forms::Twips kPageClientHeight = 2235;

struct PageTimers {
  int cursor_restore_ms = 400;
  int self_unload_ms = 500;
  int close_all_ms = 0;                      // 0: the page has no close-all timer
  std::string self_unload_name = "Timer3";   // the information pages use "Timer2"
};

// The status line of the backdrop. Setting it makes it visible; clearing leaves it visible.
void SetStatusLine(const std::string& text);
void ClearStatusLine();

// What a close-all timer does: hide every loaded form, last loaded first, restore the default
// cursor and unload every form but the start-up form. Failures on one form are passed over.
void CloseAllScreens();

// Called at the start of every page's load with the page; tests watch the busy cursor that
// a navigation shows while its target loads. An empty function removes the observer.
void SetPageLoadObserverForTesting(std::function<void(forms::Form&)> observer);

class Page : public forms::Form {
 public:
  forms::Timer& CursorRestoreTimer() const { return *cursor_restore_; }
  forms::Timer& SelfUnloadTimer() const { return *self_unload_; }
  forms::Timer* CloseAllTimer() const { return close_all_; }

  // The text written to the status line when the page becomes active.
  virtual std::string StatusText() = 0;

  // Opens a page the way a navigation command does: loads it when it is not loaded (its load
  // shows it), else shows it again. A page that was left and only waits for its self-unload
  // is not brought back to be destroyed under the user's eyes: it goes now and a fresh one
  // is loaded in its place.
  template <class P>
  static P& Open(forms::FormSlot<P>& slot) {
    if (P* loaded = slot.Loaded()) {
      if (!loaded->SelfUnloadTimer().Enabled()) {
        loaded->Show();
        return *loaded;
      }
      loaded->SelfUnloadTimer().SetEnabled(false);
      loaded->Unload();
    }
    return slot.Get();
  }

 protected:
  Page(const std::string& name, const std::string& caption, const PageTimers& timers);

  // The page's own filling, between the scaling and the showing.
  virtual void LoadContent() {}
  // Most pages restore the default cursor at the end of their load; the user folder page
  // leaves it to the page that opened it.
  virtual bool RestoresCursorOnLoad() const { return true; }

  void Form_Load() override;
  void Form_Activate() override;
  void Form_Deactivate() override;
  // Every page stays in front of the backdrop.
  forms::Form* Owner() const override;

  // A top-level menu-bar item running `command` when clicked.
  forms::MenuItem& Command(const std::string& name, const std::string& caption,
                           std::function<void()> command);

  // A top-level menu-bar item running this page's row of the navigation table.
  forms::MenuItem& NavigationCommand(const std::string& name, const std::string& caption);
  // Runs this page's navigation row for menu item `name` (screens/navigation.h).
  void FollowNavigation(const std::string& name);
  // The navigation command: hide, busy cursor, arm the cursor-restore timer, open the
  // target, default cursor, and (unless the page stays loaded) arm the self-unload timer.
  void Navigate(const std::function<void()>& open_target, int cursor, bool stays = false);

  // "Close" on the main pages: hides this page and the backdrop, arms the close-all timer.
  void CloseCommand();
  // "Close" on the Internet and cookie pages: leaves hiding the backdrop to the close-all.
  void CloseWithBusyCursor();

  void ArmCursorRestore() { cursor_restore_->SetEnabled(true); }
  void ArmSelfUnload() { self_unload_->SetEnabled(true); }
  void ArmCloseAll();

 private:
  forms::Timer* cursor_restore_ = nullptr;
  forms::Timer* self_unload_ = nullptr;
  forms::Timer* close_all_ = nullptr;
};

}  // namespace tidrex::screens
