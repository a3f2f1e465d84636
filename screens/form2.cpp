#include "screens/form2.h"

#include "engine/cleaning_run.h"
#include "engine/ini_settings.h"
#include "engine/switches.h"
#include "shell/screen_run_ui.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kBoxFont{"MS Sans Serif", 9.75, true, true};
}  // namespace

forms::FormSlot<Form2>& Form2Slot() {
  static forms::FormSlot<Form2> slot;
  return slot;
}

Form2::Form2()
    : Page("Form2", "  Varnok Tidrex----Choose The Folders You Want To Clean", {50, 50, 500}),
      Picture1(AddPicture("Picture1", {0, 0, 1335, 2295})),
      Check3(AddCheckBox("Check3", "Clean Cookie Files", {1440, 120, 2655, 255}, kBoxFont)),
      Check2(AddCheckBox("Check2", "Temp Folder", {4080, 120, 2055, 255}, kBoxFont)),
      Check1(AddCheckBox("Check1", "Your Selected Folder", {2280, 480, 2775, 255}, kBoxFont)),
      Label5(AddLabel("Label5",
                      "Check the box for the options you want to use.The Clean Now Tab on the popup "
                      "menu in the task bar, will clean all the files without any prompt. You can "
                      "use this any time you want to clean the files.",
                      {1560, 960, 4335, 1095})) {
  Check1.Click = [this] { WriteSwitch(Check1, engine::kUserSwitch); };
  Check2.Click = [this] { WriteSwitch(Check2, engine::kTempSwitch); };
  Check3.Click = [this] { WriteSwitch(Check3, engine::kInternetSwitch); };

  NavigationCommand("sPaths", "View Paths");
  NavigationCommand("sInternet", "View Cookies");
  NavigationCommand("sCookies", "User Folder");
  // "Clean Now" only opens its submenu; the clean needs the second, confirming choice.
  AddMenu("sCleana", "Clean Now").AddItem("sClean", "Are You Sure?").Click = [this] { RunClean(); };
  NavigationCommand("sHelp", "Help");
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseCommand(); });
}

void Form2::LoadContent() {
  // One reading of the file for the three switches.
  const engine::IniOperation load(engine::ConfigFilePath());
  const engine::Switches switches = engine::ReadSwitches();
  // Ticking runs the click handling, which writes the same "Yes" back; anything but an exact
  // "Yes" leaves the box unticked and the file as it is.
  if (switches.user == "Yes") Check1.SetValue(1);
  if (switches.temp == "Yes") Check2.SetValue(1);
  if (switches.internet == "Yes") Check3.SetValue(1);
}

void Form2::WriteSwitch(const forms::CheckBox& box, const std::string& key) {
  const std::string file = engine::ConfigFilePath();
  forms::Screen::SetMousePointer(forms::kCursorArrowHourglass);
  ArmCursorRestore();
  engine::WriteIniValue(file, engine::kSwitchSection, key, box.Value() == 1 ? "Yes" : "No");
}

void Form2::RunClean() {
  Hide();
  forms::Screen::SetMousePointer(forms::kCursorArrowHourglass);
  ArmCursorRestore();
  shell::ScreenRunUi ui;
  engine::RunInteractiveClean(ui);
  // The run may have unloaded every form meanwhile; the page then no longer exists.
  if (Form2Slot().Loaded() == this) ArmSelfUnload();
}

}  // namespace tidrex::screens
