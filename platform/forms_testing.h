// Driving forms in tests the way a user would: every action below goes through real Qt
// input events on the form's widgets (QTest), so what the user would see happen is what
// the test sees happen. For tests only; the program never calls these.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/forms.h"

class QWidget;
class QMenu;

namespace tidrex::forms::testing {

// The window of a form and the widget of a control (nullptr for a timer).
QWidget* WidgetOf(const Form& form);
QWidget* WidgetOf(const Control& control);

// Clicks a menu-bar item by name. For an item inside a submenu, the bar item is clicked
// first to open it and then the item. False when the item is not there or not visible.
bool ClickMenu(Form& form, const std::string& item_name);
// The captions of the visible menu-bar items, in order.
std::vector<std::string> MenuBarCaptions(const Form& form);

bool ClickCheckBox(CheckBox& box);
bool ClickListItem(ListBox& list, int index);
bool DoubleClickListItem(ListBox& list, int index);
bool ClickDirEntry(DirListBox& dirs, int index);
bool DoubleClickDirEntry(DirListBox& dirs, int index);
// Opens the drive list and clicks the entry.
bool ChooseDrive(DriveListBox& drives, int index);

// The title bar's close button.
void CloseByTitleBar(Form& form);

// Runs the event loop for `ms` milliseconds (timers fire, deferred destructions happen).
void ProcessEvents(int ms);
// Runs the event loop until `condition` holds or `timeout_ms` passed; the condition's result.
bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 5000);

// Arms a watcher that, as soon as a popup menu opens (inside Form::PopupMenu), records its
// captions and clicks the item with `caption` with the mouse; an empty caption dismisses
// the menu with Escape. Gives up after `timeout_ms`.
void ClickPopupItemWhenShown(const std::string& caption, int timeout_ms = 5000);
// Disarms every watcher that has not acted yet.
void CancelPopupWatchers();
// The captions ("-" for separators) of the last menu that Form::PopupMenu showed.
std::vector<std::string> LastPopupCaptions();
// How many menus Form::PopupMenu has opened so far.
int PopupCount();

// Program end as requested by QuitEventLoop (or by unloading the last form).
bool ProgramEndRequested();
int ProgramExitCode();
void ResetProgramEnd();

// Unloaded forms not destroyed yet.
std::size_t PendingDestructions();
// The form that the runtime last activated (nullptr after it was unloaded).
Form* ActiveForm();
bool TaskVisible();

// Unloads every loaded form and lets the runtime destroy them: a clean start for the next test.
void UnloadEverything();

}  // namespace tidrex::forms::testing
