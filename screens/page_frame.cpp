#include "screens/page_frame.h"

#include <stdexcept>
#include <utility>

#include "layout/frm_size.h"
#include "screens/navigation.h"
#include "shell/form10.h"
#include "shell/frm_unload.h"

namespace tidrex::screens {

namespace {

std::function<void(forms::Form&)>& LoadObserver() {
  static std::function<void(forms::Form&)> observer;
  return observer;
}

// The backdrop's status label; `load` loads the backdrop when it is not loaded, as any
// reference to one of its controls would.
forms::Label* StatusLabel(bool load) {
  auto& slot = shell::Form10Slot();
  shell::Form10* backdrop = load ? &slot.Get() : slot.Loaded();
  return backdrop ? &backdrop->Label6 : nullptr;
}

}  // namespace

void SetStatusLine(const std::string& text) {
  if (forms::Label* label = StatusLabel(true)) {
    label->SetCaption(text);
    label->SetVisible(true);
  }
}

void ClearStatusLine() {
  // Deactivation also comes while the screens close; it must not bring the backdrop back.
  if (forms::Label* label = StatusLabel(false)) label->SetCaption("");
}

void SetPageLoadObserverForTesting(std::function<void(forms::Form&)> observer) {
  LoadObserver() = std::move(observer);
}

void CloseAllScreens() {
  std::vector<forms::Form*> loaded = forms::LoadedForms();
  for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
    try {
      (*it)->Hide();
    } catch (...) {
    }
  }
  try {
    forms::Screen::SetMousePointer(forms::kCursorDefault);
  } catch (...) {
  }
  shell::UnloadAllForms();
}

Page::Page(const std::string& name, const std::string& caption, const PageTimers& timers)
    : forms::Form(name) {
  SetCaption(caption);
  cursor_restore_ = &AddTimer("Timer1", timers.cursor_restore_ms);
  if (timers.close_all_ms > 0) close_all_ = &AddTimer("Timer2", timers.close_all_ms);
  self_unload_ = &AddTimer(timers.self_unload_name, timers.self_unload_ms);

  cursor_restore_->OnTimer = [this] {
    forms::Screen::SetMousePointer(forms::kCursorDefault);
    cursor_restore_->SetEnabled(false);
  };
  self_unload_->OnTimer = [this] {
    self_unload_->SetEnabled(false);
    Unload();
  };
  if (close_all_) {
    close_all_->OnTimer = [this] {
      close_all_->SetEnabled(false);
      CloseAllScreens();
    };
  }
}

void Page::Form_Load() {
  if (LoadObserver()) LoadObserver()(*this);
  // The menu bar takes its own height; the client area below it gets the designed size.
  SetClientSize(kPageClientWidth, kPageClientHeight);
  layout::ResizeForm(*this);
  LoadContent();
  if (RestoresCursorOnLoad()) forms::Screen::SetMousePointer(forms::kCursorDefault);
  Show();
}

void Page::Form_Activate() {
  // An activation that arrives after the page was hidden again is stale.
  if (!Visible()) return;
  SetStatusLine(StatusText());
}

void Page::Form_Deactivate() { ClearStatusLine(); }

forms::Form* Page::Owner() const { return shell::Form10Slot().Loaded(); }

forms::MenuItem& Page::Command(const std::string& name, const std::string& caption,
                               std::function<void()> command) {
  forms::MenuItem& item = AddMenu(name, caption);
  item.Click = std::move(command);
  return item;
}

forms::MenuItem& Page::NavigationCommand(const std::string& name, const std::string& caption) {
  return Command(name, caption, [this, name] { FollowNavigation(name); });
}

void Page::FollowNavigation(const std::string& name) {
  const NavigationRow* row = FindNavigationRow(Name(), name);
  if (!row) throw std::logic_error(Name() + "." + name + " has no navigation row");
  auto open_target = [row] {
    if (row->unloads_first) {
      if (Page* page = LoadedPage(row->unloads_first)) page->Unload();
    }
    OpenPage(row->target);
  };
  if (row->cursor != 0) {
    Navigate(open_target, row->cursor, row->stays);
    return;
  }
  // Hides this page, opens the target without touching the cursor, arms the self-unload.
  Hide();
  open_target();
  ArmSelfUnload();
}

void Page::Navigate(const std::function<void()>& open_target, int cursor, bool stays) {
  Hide();
  forms::Screen::SetMousePointer(cursor);
  ArmCursorRestore();
  open_target();
  forms::Screen::SetMousePointer(forms::kCursorDefault);
  if (!stays) ArmSelfUnload();
}

void Page::CloseCommand() {
  forms::Screen::SetMousePointer(forms::kCursorDefault);
  Hide();
  if (shell::Form10* backdrop = shell::Form10Slot().Loaded()) backdrop->Hide();
  ArmCloseAll();
}

void Page::CloseWithBusyCursor() {
  try {
    Hide();
    forms::Screen::SetMousePointer(forms::kCursorArrowHourglass);
    ArmCursorRestore();
    forms::Screen::SetMousePointer(forms::kCursorDefault);
  } catch (...) {
  }
  ArmCloseAll();
}

void Page::ArmCloseAll() {
  if (close_all_) close_all_->SetEnabled(true);
}

}  // namespace tidrex::screens
