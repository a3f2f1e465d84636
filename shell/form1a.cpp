#include "shell/form1a.h"

#include "engine/cleaning_run.h"
#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "engine/switches.h"
#include "platform/locations.h"
#include "platform/notify_icon.h"
#include "platform/shell_folders.h"
#include "shell/configuration_screens.h"
#include "shell/form10.h"
#include "shell/form6.h"
#include "shell/frm_unload.h"
#include "shell/screen_run_ui.h"
#include "shell/shortcuts.h"
#include "shell/win_proc.h"

namespace tidrex::shell {
namespace {

constexpr const char* kMenuCaptions[9] = {"Change Configuration", "-", "Clean Now", "-", "Exit",
                                          "-", "Remove All Paths", "-", "About"};

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

platform::NotifyIconData TrayRecord() {
  platform::NotifyIconData d;
  d.size = 152;
  d.window = Form1aSlot().Loaded() ? Form1aSlot().Loaded()->Hwnd() : 0;
  d.id = kTrayIconId;
  d.flags = platform::kNifMessage | platform::kNifIcon | platform::kNifTip;
  d.callback_message = kTrayCallbackMessage;
  d.tip = std::string(kTrayTip) + '\0';
  d.tip.resize(64, ' ');
  // A StatusNotifierItem host draws the popup menu itself, at the icon.
  d.menu = Form1aSlot().Loaded() ? &Form1aSlot().Loaded()->mnuPopUp : nullptr;
  return d;
}

// Loads the backdrop, or shows it again when a page's "Close" only hid it.
void OpenBackdrop() { Form10Slot().Get().Show(); }

}  // namespace

Form1a::Form1a()
    : Form(kForm1aName), Timer2(AddTimer("Timer2", 50)), mnuPopUp(AddMenu("mnuPopUp", "PopUp_Menu", false)) {
  SetCaption("Tidrex");
  for (int i = 0; i < 9; ++i) {
    forms::MenuItem& item = mnuPopUp.AddItem("mnuShow", kMenuCaptions[i]);
    item.Click = [this, i] { mnuShow_Click(i); };
    mnuShow[std::size_t(i)] = &item;
  }
  Timer2.OnTimer = [this] { Timer2_Timer(); };
}

// Steps 2 to 16 of the resident start; the choice of mode was made before any window existed.
void Form1a::Form_Load() {
  const std::string app = WithSlash(platform::ApplicationFolder());
  const std::string startup = WithSlash(GetSpecialFolder(platform::kCsidlStartup));
  // Created when missing, and written anew when it starts a program that was moved away.
  const std::string target = AutostartTarget();
  if (startup != "/" && (!engine::ItemExists(startup + kShortcutFileName) ||
                         EntryStartsAMissingProgram(startup + kShortcutFileName, target)))
    CreateShortcut(target, "Tidrex", "StartUp");
  SetLeft(-30000);
  SetTop(-30000);
  forms::SetTaskVisible(false);
  std::string ini = engine::ConfigFilePath();
  engine::WriteIniValue(ini, "sAppPath", "ShortCut", app);
  if (!engine::IsWindowsXP()) {
    Wbocx1.Invoke(14, {std::int16_t{1}});
    Wbocx1.Invoke(8, {std::string("\\Skin1\\Skin1.uis")});
    Wbocx1.Invoke(7, {});
    Wbocx1.Invoke(6, {std::int32_t(Hwnd())});
  }
  Hide();
  Form6Slot().Get();
  if (ShellTrayAdd() == 1) HookWindow(Hwnd());
  forms::SetTaskVisible(false);
  forms::Screen::SetMousePointer(forms::kCursorDefault);
  const engine::IniOperation first_run_test(ini);
  const engine::Switches switches = engine::ReadSwitches();
  auto unset = [](const std::string& v) { return v == "0" || v.empty(); };
  if (unset(switches.user) && unset(switches.temp) && unset(switches.internet)) {
    OpenBackdrop();
    Screens().LoadStartPage();
  }
  Hide();
}

void Form1a::Form_Unload() { UnhookWindow(Hwnd()); }

void Form1a::mnuShow_Click(int index) {
  Hide();
  switch (index) {
    case 0: {
      OpenBackdrop();
      Screens().OpenStartPage().SetWindowState(0);
      forms::Screen::SetMousePointer(forms::kCursorDefault);
      break;
    }
    case 2: {
      ScreenRunUi ui;
      engine::RunTrayClean(ui);
      break;
    }
    case 4:
      forms::Screen::SetMousePointer(forms::kCursorDefault);
      ShellTrayRemove();
      ExitProgram();
      break;
    case 6: {
      ShellTrayRemove();
      // Without a StartUp folder there is no entry to delete, and "/" must never be tried.
      const std::string folder = GetSpecialFolder(platform::kCsidlStartup);
      if (!folder.empty()) {
        const std::string entry = WithSlash(folder) + kShortcutFileName;
        if (engine::ItemExists(entry)) engine::ShellDelete(entry);
      }
      RemoveAllPaths();
      break;
    }
    case 8:
      OpenBackdrop();
      Screens().OpenAboutPage();
      break;
    default:
      break;
  }
}

void Form1a::Timer2_Timer() {
  UnloadAllForms();
  Timer2.SetEnabled(false);
}

forms::FormSlot<Form1a>& Form1aSlot() {
  static auto* slot = new forms::FormSlot<Form1a>();
  return *slot;
}

int ShellTrayAdd() { return platform::ShellNotifyIcon(platform::kNimAdd, TrayRecord()); }

void ShellTrayRemove() { platform::ShellNotifyIcon(platform::kNimDelete, TrayRecord()); }

}  // namespace tidrex::shell
