// The resident start, the tray window procedure, the popup menu and its items, the
// close-all timer and the two ways the program ends.
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "engine/ini_settings.h"
#include "platform/locations.h"
#include "platform/notify_icon.h"
#include "platform/window_messages.h"
#include "screens/form1.h"
#include "screens/form5.h"
#include "shell/form10.h"
#include "shell/form6.h"
#include "shell/win_proc.h"
#include "tests/shell/shell_fixture.h"

namespace tidrex::shell::test {
namespace {

namespace t = forms::testing;
using tidrex::testing::Sandbox;

const std::vector<std::string> kMenu = {"Change Configuration", "-", "Clean Now", "-", "Exit",
                                        "-", "Remove All Paths", "-", "About"};

class ResidentStart : public ShellTest {};

TEST_F(ResidentStart, FirstStartRunsEveryStepInOrder) {
  Form1a& f = Start();
  // The autostart entry for the application folder's Quorvel.
  ASSERT_TRUE(Sandbox::Exists(Autostart()));
  EXPECT_NE(Sandbox::ReadFile(Autostart()).find("Exec=\"" + sandbox_.AppFolder() + "Quorvel\"\n"), std::string::npos);
  EXPECT_EQ(engine::ReadIniValue(Ini(), "sAppPath", "ShortCut", ""), sandbox_.AppFolder());
  // The skin's four calls, in order, with their dispatch identifiers and arguments.
  using platform::SkinCall;
  EXPECT_EQ(f.Wbocx1.Calls(),
            (std::vector<SkinCall>{{14, {std::int16_t{1}}},
                                   {8, {std::string("\\Skin1\\Skin1.uis")}},
                                   {7, {}},
                                   {6, {std::int32_t(f.Hwnd())}}}));
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(f.Left(), -30000);
  EXPECT_EQ(f.Top(), -30000);
  EXPECT_FALSE(t::TaskVisible());
  // The hidden work form, the tray icon and the hook.
  ASSERT_TRUE(Form6Slot().IsLoaded());
  EXPECT_FALSE(Form6Slot().Loaded()->Visible());
  EXPECT_FALSE(Form6Slot().Loaded()->File1.Visible());
  EXPECT_TRUE(platform::NotifyIconExists(f.Hwnd(), 125));
  EXPECT_EQ(platform::NotifyIconTip(f.Hwnd(), 125), "Varnok Tidrex");
  EXPECT_EQ(platform::GetWindowProc(f.Hwnd()), &TrayWindowProc);
  EXPECT_EQ(SavedWindowProc(), &platform::DefWindowProc);
  // No switch set: the backdrop and the main start page open.
  ASSERT_TRUE(Form10Slot().IsLoaded());
  EXPECT_TRUE(Form10Slot().Loaded()->Visible());
  ASSERT_TRUE(screens::Form1Slot().IsLoaded());
  EXPECT_TRUE(screens::Form1Slot().Loaded()->Visible());
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"Form1a", "Form6", "Form10", "Form1"}));
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ResidentStart, SavedSwitchesOpenNothing) {
  SetSwitches("Yes", "No", "No");
  Start();
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"Form1a", "Form6"}));
}

TEST_F(ResidentStart, SwitchesHoldingZeroOrNothingCountAsAFirstStart) {
  SetSwitches("0", "", "0");
  Start();
  EXPECT_TRUE(Form10Slot().IsLoaded());
  EXPECT_TRUE(screens::Form1Slot().IsLoaded());
}

TEST_F(ResidentStart, ExistingAutostartEntryIsLeftAlone) {
  Sandbox::WriteFile(Autostart(), "[Desktop Entry]\nmine\n");
  SetSwitches("No", "No", "No");
  Start();
  EXPECT_EQ(Sandbox::ReadFile(Autostart()), "[Desktop Entry]\nmine\n");
}

TEST_F(ResidentStart, AnEntryForAProgramThatMovedAwayIsWrittenAnew) {
  SetSwitches("No", "No", "No");
  const std::string fresh = "Exec=\"" + sandbox_.AppFolder() + "Quorvel\"\n";
  struct Row {
    std::string entry;
    bool rewritten;
  };
  const Row rows[] = {
      {"[Desktop Entry]\nExec=\"/gone/old folder/Quorvel\"\n", true},
      {"[Desktop Entry]\nName=x\nExec = /gone/Quorvel --flag\n", true},
      {"[Desktop Entry]\nExec=quorvel-never-installed-here\n", true},
      {"[Desktop Entry]\nExec=\"/bin/sh\" -c true\n", false},  // another program that is there
      {"[Desktop Entry]\nExec=sh\n", false},                     // found on PATH
      {"[Desktop Entry]\nName=mine\n[Other]\nExec=/gone/Quorvel\n", false},  // not the entry's Exec
      {"[Desktop Entry]\nExec=relative/Quorvel\n", false},
  };
  for (const Row& r : rows) {
    Sandbox::WriteFile(Autostart(), r.entry);
    Start();
    const std::string now = Sandbox::ReadFile(Autostart());
    if (r.rewritten) {
      EXPECT_NE(now.find(fresh), std::string::npos) << r.entry;
      EXPECT_NE(now.find("\nX-KDE-autostart-after=panel\n"), std::string::npos);
    } else {
      EXPECT_EQ(now, r.entry);
    }
    t::UnloadEverything();
  }
  EXPECT_TRUE(boxes_.empty());
}

class TrayProc : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    SetSwitches("No", "No", "No");
    form_ = &Start();
  }
  // Sends a tray message and reports whether a popup menu opened (dismissing it).
  bool OpensMenu(std::intptr_t mouse, std::uint32_t message = kTrayCallbackMessage) {
    const int before = t::PopupCount();
    t::ClickPopupItemWhenShown("", 10000);
    platform::SendMessage(form_->Hwnd(), message, 125, mouse);  // returns once a menu closed
    t::CancelPopupWatchers();
    t::ProcessEvents(10);
    return t::PopupCount() > before;
  }
  Form1a* form_ = nullptr;
};

TEST_F(TrayProc, LeftAndRightReleasesOpenTheNineEntryMenu) {
  EXPECT_TRUE(OpensMenu(514));
  EXPECT_EQ(t::LastPopupCaptions(), kMenu);
  EXPECT_TRUE(OpensMenu(517));
  EXPECT_EQ(t::LastPopupCaptions(), kMenu);
}

TEST_F(TrayProc, OtherMouseMessagesDoNothing) {
  for (std::intptr_t m : {512, 513, 515, 516, 518, 519, 520}) EXPECT_FALSE(OpensMenu(m)) << m;
  UnhookWindow(form_->Hwnd());  // and without the hook a release goes nowhere
  EXPECT_FALSE(OpensMenu(514));
}

TEST_F(TrayProc, MessagesOtherThanTheCallbackReachTheSavedProcedureUnchanged) {
  // A procedure of its own under the hook, to see what is passed on.
  static std::vector<std::intptr_t> passed;
  passed.clear();
  auto below = +[](platform::WindowHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
    passed.insert(passed.end(), {std::intptr_t(h), std::intptr_t(m), std::intptr_t(w), l});
    return 42;
  };
  UnhookWindow(form_->Hwnd());
  platform::SetWindowLong(form_->Hwnd(), platform::kGwlWndProc, below);
  HookWindow(form_->Hwnd());
  HookWindow(form_->Hwnd());  // a second hook keeps the real saved procedure
  EXPECT_EQ(SavedWindowProc(), below);
  EXPECT_EQ(platform::SendMessage(form_->Hwnd(), 15, 1, 2), 42);
  EXPECT_EQ(passed, (std::vector<std::intptr_t>{std::intptr_t(form_->Hwnd()), 15, 1, 2}));
  passed.clear();
  EXPECT_EQ(platform::SendMessage(form_->Hwnd(), kTrayCallbackMessage, 125, 512), 0);
  EXPECT_TRUE(passed.empty());  // tray messages are not passed on
  // Another window's message goes on as well.
  EXPECT_EQ(TrayWindowProc(form_->Hwnd() + 1, kTrayCallbackMessage, 125, 514), 42);
  EXPECT_FALSE(OpensMenu(514, 1024));
  // Unloading the start-up form puts the saved procedure back.
  form_->Unload();
  EXPECT_EQ(SavedWindowProc(), nullptr);
}

class Menu : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    SetSwitches("No", "No", "No");
    form_ = &Start();
  }
  // Runs the program's event loop while the user opens the tray menu and picks `caption`.
  int RunAndPick(const std::string& caption) {
    QTimer::singleShot(0, [this, caption] {
      t::ClickPopupItemWhenShown(caption);
      platform::SendMessage(form_->Hwnd(), kTrayCallbackMessage, 125, 514);
    });
    QTimer::singleShot(5000, [] { QApplication::exit(99); });  // guard: must not be the way out
    return forms::RunEventLoop();
  }
  // The user opens the tray menu and picks `caption`; returns when the item's work is done.
  void Pick(const std::string& caption) {
    t::ClickPopupItemWhenShown(caption);
    platform::SendMessage(form_->Hwnd(), kTrayCallbackMessage, 125, 514);
  }
  Form1a* form_ = nullptr;
};

TEST_F(Menu, ExitRemovesTheIconAndEndsTheEventLoop) {
  const auto hwnd = form_->Hwnd();
  Form10Slot().Get();
  EXPECT_EQ(RunAndPick("Exit"), 0);
  EXPECT_FALSE(platform::NotifyIconExists(hwnd, 125));
  EXPECT_TRUE(forms::LoadedForms().empty());
  EXPECT_TRUE(Sandbox::Exists(Ini()));
  EXPECT_TRUE(Sandbox::Exists(Autostart()));
}

TEST_F(Menu, RemoveAllPathsDeletesTheEntryAndTheIniAndEnds) {
  ASSERT_TRUE(Sandbox::Exists(Autostart()));
  EXPECT_EQ(RunAndPick("Remove All Paths"), 0);
  EXPECT_FALSE(Sandbox::Exists(Autostart()));
  EXPECT_FALSE(Sandbox::Exists(Ini()));
  EXPECT_TRUE(forms::LoadedForms().empty());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Menu, RemoveAllPathsDeletesTheConfigurationFileInUse) {
  // A folder the user cannot write (here: one that is not there) keeps the file below
  // $XDG_CONFIG_HOME; that one goes, the file of the folder used before stays.
  platform::SetApplicationFolderForTesting(sandbox_.Path("installed"));
  const std::string in_use = sandbox_.Path("home/.config/Tidrex/Clean.ini");
  engine::WriteIniValue(engine::ConfigFilePath(), "Delete", "Temp", "Yes");
  ASSERT_TRUE(Sandbox::Exists(in_use));
  EXPECT_EQ(RunAndPick("Remove All Paths"), 0);
  EXPECT_FALSE(Sandbox::Exists(in_use));
  EXPECT_TRUE(Sandbox::Exists(Ini()));
}

TEST_F(Menu, RemoveAllPathsEndsAlsoWhenBothAreMissing) {
  std::remove(Autostart().c_str());
  std::remove(Ini().c_str());
  Sandbox::WriteFile(sandbox_.Path("home/.config/Tidrex.desktop"), "not ours");
  EXPECT_EQ(RunAndPick("Remove All Paths"), 0);
  EXPECT_TRUE(forms::LoadedForms().empty());
  EXPECT_TRUE(Sandbox::Exists(sandbox_.Path("home/.config/Tidrex.desktop")));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Menu, CleanNowUnloadsEveryFormButForm1a50msAfterTheRun) {
  // "yes" counts as selected but runs no step; an empty keep-list marker counts as saved.
  SetSwitches("yes", "No", "No");
  engine::WriteIniValue(Ini(), "Internet", "sFile0", "");
  Form10Slot().Get();
  screens::Form1Slot().Get();
  ASSERT_EQ(LoadedNames(), (std::vector<std::string>{"Form1a", "Form6", "Form10", "Form1"}));
  Pick("Clean Now");
  // The run hid everything and armed the timer; nothing is unloaded yet.
  EXPECT_TRUE(form_->Timer2.Enabled());
  EXPECT_EQ(form_->Timer2.Interval(), 50);
  EXPECT_EQ(LoadedNames().size(), 4u);
  for (forms::Form* f : forms::LoadedForms()) EXPECT_FALSE(f->Visible()) << f->Name();
  ASSERT_TRUE(t::WaitFor([this] { return LoadedNames() == std::vector<std::string>{"Form1a"}; }, 2000));
  EXPECT_FALSE(form_->Timer2.Enabled());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(platform::NotifyIconExists(form_->Hwnd(), 125));
  EXPECT_FALSE(t::ProgramEndRequested());
}

TEST_F(Menu, CleanNowWithNothingSelectedTellsAndOpensTheScreens) {
  SetSwitches("No", "No", "No");
  form_->mnuShow_Click(2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "You Have Not Entered Any Files To Be Cleaned !");
  EXPECT_EQ(boxes_[0].style, 64);
  EXPECT_TRUE(Form10Slot().IsLoaded() && Form10Slot().Loaded()->Visible());
  EXPECT_TRUE(screens::Form1Slot().IsLoaded() && screens::Form1Slot().Loaded()->Visible());
  EXPECT_FALSE(form_->Timer2.Enabled());
}

TEST_F(Menu, ChangeConfigurationAndAboutOpenTheBackdropAndTheirPage) {
  Pick("Change Configuration");
  EXPECT_TRUE(Form10Slot().IsLoaded() && Form10Slot().Loaded()->Visible());
  ASSERT_TRUE(screens::Form1Slot().IsLoaded());
  EXPECT_TRUE(screens::Form1Slot().Loaded()->Visible());
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  // Opening it again while it is there creates nothing new.
  screens::Form1* first = screens::Form1Slot().Loaded();
  form_->mnuShow_Click(0);
  EXPECT_EQ(screens::Form1Slot().Loaded(), first);
  Pick("About");
  EXPECT_TRUE(screens::Form5Slot().IsLoaded() && screens::Form5Slot().Loaded()->Visible());
}

TEST_F(Menu, CloseAllTimerLeavesOnlyTheStartUpForm) {
  Form10Slot().Get();
  screens::Form5Slot().Get();
  form_->Timer2.SetEnabled(true);
  ASSERT_TRUE(t::WaitFor([this] { return LoadedNames() == std::vector<std::string>{"Form1a"}; }, 2000));
  EXPECT_FALSE(form_->Timer2.Enabled());
  // The work form comes back, empty, on its next use.
  Form6& f6 = Form6Slot().Get();
  EXPECT_EQ(f6.List1.ListCount(), 0);
  EXPECT_FALSE(f6.Visible());
}

}  // namespace
}  // namespace tidrex::shell::test
