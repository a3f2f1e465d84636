#include "engine/cleaning_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/ini_settings.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;
using Log = std::vector<std::string>;

// Records every call a run makes of the screens, in order, with the steps it carries out.
class RecordingUi : public RunUi {
 public:
  int MessageBox(const std::string& text, int style, const std::string& title) override {
    log.push_back("MessageBox(" + text + "|" + std::to_string(style) + "|" + title + ")");
    return style == 36 ? answer : 1;
  }
  void SetStatusLine(const std::string& caption) override { log.push_back("SetStatusLine(" + caption + ")"); }
  void RepaintBackdrop() override { log.push_back("RepaintBackdrop"); }
  bool BackdropVisible() override { log.push_back("BackdropVisible"); return backdrop_visible; }
  void ShowBackdrop() override { log.push_back("ShowBackdrop"); backdrop_visible = true; }
  void ShowMainStartPage() override { log.push_back("ShowMainStartPage"); }
  void HideOptionsPage() override { log.push_back("HideOptionsPage"); }
  void SetDefaultCursor() override { log.push_back("SetDefaultCursor"); }
  void HideAllForms() override { log.push_back("HideAllForms"); }
  void HideAndUnloadAllForms() override { log.push_back("HideAndUnloadAllForms"); }
  void EnableCloseAllTimer() override { log.push_back("EnableCloseAllTimer"); }
  void Sleep(int ms) override { log.push_back("Sleep(" + std::to_string(ms) + ")"); }
  void EndProgram() override { log.push_back("EndProgram"); }

  Log log;
  int answer = 6;
  bool backdrop_visible = true;
};

const char* const kNothing = "MessageBox(You Have Not Entered Any Files To Be Cleaned !|64|Varnok Info.....)";
const char* const kQuestion =
    "MessageBox(You have not saved any Cookies !\r\rDo you want to continue?|36|For Your Information.....)";
const char* const kCleaned = "MessageBox(All Files Cleaned!|64|Varnok Tidrex.....)";

enum class Entry { kInteractive, kTray, kUnattended };

class CleaningRunTest : public ::testing::Test {
 protected:
  // Switch values; nullopt leaves the key out.
  void Switches(std::optional<std::string> user, std::optional<std::string> temp,
                std::optional<std::string> internet) {
    if (user) WriteIniValue(ConfigFilePath(), "Delete", "User", *user);
    if (temp) WriteIniValue(ConfigFilePath(), "Delete", "Temp", *temp);
    if (internet) WriteIniValue(ConfigFilePath(), "Delete", "Temporary Internet Files", *internet);
  }
  void Marker(const std::string& value) { WriteIniValue(ConfigFilePath(), "Internet", "sFile0", value); }

  Log Run(Entry entry) {
    CleaningSteps steps{[this] { ui.log.push_back("step:user"); }, [this] { ui.log.push_back("step:temp"); },
                        [this] { ui.log.push_back("step:internet"); }};
    switch (entry) {
      case Entry::kInteractive: RunInteractiveClean(ui, steps); break;
      case Entry::kTray: RunTrayClean(ui, steps); break;
      case Entry::kUnattended: RunUnattendedClean(ui, steps); break;
    }
    return ui.log;
  }

  Sandbox box;
  RecordingUi ui;
};

Log Cat(std::initializer_list<Log> parts) {
  Log out;
  for (const Log& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Exact call sequences of the runs, every text, title and style included.
TEST_F(CleaningRunTest, EachRunMakesExactlyItsCalls) {
  const Log start{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop"};
  const Log finish{"BackdropVisible", "SetStatusLine(All Finished Cleaning Files !)", "RepaintBackdrop",
                   "Sleep(1000)", kCleaned};
  const Log end{"SetDefaultCursor", "HideAllForms", "EnableCloseAllTimer"};
  const Log nothing{kNothing, "ShowBackdrop", "ShowMainStartPage"};
  const Log all{"step:user", "step:temp", "step:internet"};
  const Log ask{"ShowBackdrop", kQuestion};
  const std::string on = "[Delete]\nUser=Yes\nTemp=Yes\nTemporary Internet Files=Yes\n";
  const std::string kept = "[Internet]\nsFile0=https://kept.test/\n";
  struct Case {
    const char* what;
    std::optional<std::string> ini;
    Entry entry;
    int answer;
    bool backdrop_visible;
    Log expected;
  };
  const Case cases[] = {
      {"no file", std::nullopt, Entry::kInteractive, 6, true, Cat({start, nothing})},
      {"no file", std::nullopt, Entry::kTray, 6, true, nothing},
      {"no file", std::nullopt, Entry::kUnattended, 6, true, {"EndProgram"}},
      {"all off", "[Delete]\nUser=No\nTemp=0\nTemporary Internet Files=\n" + kept, Entry::kTray, 6, true, nothing},
      {"all on", on + kept, Entry::kInteractive, 6, true, Cat({start, all, finish, end})},
      {"all on, backdrop hidden", on + kept, Entry::kInteractive, 6, false, Cat({start, all, {"BackdropVisible"}, end})},
      {"all on", on + kept, Entry::kTray, 6, true, Cat({all, end})},
      {"all on, no keep list", on, Entry::kUnattended, 7, true,
       Cat({all, {"SetDefaultCursor", "HideAndUnloadAllForms", "EndProgram"}})},
      {"unsaved keep list, internet off", "[Delete]\nUser=Yes\nTemp=No\nTemporary Internet Files=No\n",
       Entry::kInteractive, 7, true, Cat({start, ask, end})},
      {"unsaved keep list", on, Entry::kTray, 7, true, Cat({ask, end})},
      {"unsaved keep list, no Yes", on, Entry::kTray, 0, true, Cat({ask, end})},
      {"answered Yes", "[Delete]\nUser=Yes\nTemp=No\nTemporary Internet Files=Yes\n[Internet]\nsFile0=No\n",
       Entry::kTray, 6, true, Cat({ask, {"HideOptionsPage", "step:user", "step:internet"}, end})},
      // The question showed the backdrop, so the finish signal follows.
      {"answered Yes, backdrop hidden", "[Delete]\nUser=Yes\nTemp=No\nTemporary Internet Files=Yes\n[Internet]\nsFile0=No\n",
       Entry::kInteractive, 6, false, Cat({start, ask, {"HideOptionsPage", "step:user", "step:internet"}, finish, end})},
      {"lower-case yes", "[Delete]\nUser=yes\nTemp=No\nTemporary Internet Files=No\n" + kept, Entry::kInteractive, 6,
       true, Cat({start, finish, end})},
      {"lower-case yes", "[Delete]\nUser=yes\nTemp=No\nTemporary Internet Files=No\n" + kept, Entry::kUnattended, 6,
       true, {"SetDefaultCursor", "HideAndUnloadAllForms", "EndProgram"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(ConfigFilePath().c_str());
    if (c.ini) Sandbox::WriteFile(ConfigFilePath(), *c.ini);
    ui = RecordingUi();
    ui.answer = c.answer;
    ui.backdrop_visible = c.backdrop_visible;
    EXPECT_EQ(Run(c.entry), c.expected);
  }
}

// Every combination of the switch values, the marker states and the answers, against the
// rules of the runs stated one by one.
TEST_F(CleaningRunTest, EverySwitchCombinationFollowsTheRules) {
  const std::vector<std::optional<std::string>> values{std::nullopt, "Yes", "No", "0", "", "yes"};
  const std::vector<std::optional<std::string>> markers{std::nullopt, "No", "0", "no", "", "https://k.test/"};
  int runs = 0;
  for (const auto& user : values)
    for (const auto& temp : values)
      for (const auto& internet : values)
        for (const auto& marker : markers) {
          // One file per combination, written in one go; the runs only read it.
          std::string text = "[Delete]\n";
          if (user) text += "User=" + *user + "\n";
          if (temp) text += "Temp=" + *temp + "\n";
          if (internet) text += "Temporary Internet Files=" + *internet + "\n";
          if (marker) text += "[Internet]\nsFile0=" + *marker + "\n";
          Sandbox::WriteFile(ConfigFilePath(), text);
          for (int answer : {6, 7})
            for (Entry entry : {Entry::kInteractive, Entry::kTray, Entry::kUnattended}) {
              ui = RecordingUi();
              ui.answer = answer;
              const Log log = Run(entry);
              ++runs;
              auto has = [&](const std::string& s) { return std::find(log.begin(), log.end(), s) != log.end(); };
              auto selected = [](const std::optional<std::string>& v) { return v && *v != "No" && *v != "0" && !v->empty(); };
              const bool any = selected(user) || selected(temp) || selected(internet);
              const bool unsaved = !marker || *marker == "No" || *marker == "0";
              const bool asks = any && unsaved && entry != Entry::kUnattended;
              const bool cleans = any && (!asks || answer == 6);
              SCOPED_TRACE(::testing::PrintToString(log));
              EXPECT_EQ(has(kNothing), !any && entry != Entry::kUnattended);
              EXPECT_EQ(has(kQuestion), asks);
              EXPECT_EQ(has(kCleaned), cleans && entry == Entry::kInteractive);
              EXPECT_EQ(has("SetStatusLine(Cleaning Files Now !)"), entry == Entry::kInteractive);
              if (entry == Entry::kUnattended) {
                EXPECT_EQ(log.back(), "EndProgram");
                for (const auto& call : log)
                  EXPECT_TRUE(call == "EndProgram" || call == "SetDefaultCursor" ||
                              call == "HideAndUnloadAllForms" || call.rfind("step:", 0) == 0)
                      << call;
              } else if (any) {
                EXPECT_EQ(Log(log.end() - 3, log.end()),
                          (Log{"SetDefaultCursor", "HideAllForms", "EnableCloseAllTimer"}));
              } else {
                EXPECT_EQ(log.back(), "ShowMainStartPage");
              }
              // Only the steps switched on with "Yes", always in the order user, temp, Internet.
              Log steps, wanted;
              for (const auto& call : log)
                if (call.rfind("step:", 0) == 0) steps.push_back(call);
              for (const auto& [value, step] : {std::pair{user, "step:user"}, {temp, "step:temp"}, {internet, "step:internet"}})
                if (cleans && value == std::optional<std::string>("Yes")) wanted.push_back(step);
              EXPECT_EQ(steps, wanted);
              if (HasFailure()) return;
            }
        }
  EXPECT_EQ(runs, 6 * 6 * 6 * 6 * 2 * 3);
}

// The runs with their real steps, on a sandbox.
TEST_F(CleaningRunTest, RealStepsEmptyTheFoldersThatAreSwitchedOn) {
  Sandbox::WriteFile(box.Path("temp/t.tmp"), "x");
  Sandbox::WriteFile(box.Path("user/sub/u.dat"), "x");
  box.SetEnv("Temp", box.TempDir());
  WriteIniValue(ConfigFilePath(), "User", "sFile0", box.Path("user"));
  Switches("yes", "Yes", "No");
  HeadlessRunUi headless;
  RunUnattendedClean(headless);
  EXPECT_TRUE(headless.ended);
  EXPECT_FALSE(Sandbox::Exists(box.Path("temp/t.tmp")));
  EXPECT_TRUE(Sandbox::Exists(box.TempDir()));
  EXPECT_TRUE(Sandbox::Exists(box.Path("user/sub/u.dat"))) << "\"yes\" is not \"Yes\"";

  Switches("Yes", "No", "No");
  Marker("https://kept.test/");
  RecordingUi tray;
  RunTrayClean(tray);
  EXPECT_FALSE(Sandbox::Exists(box.Path("user/sub")));
  EXPECT_TRUE(Sandbox::Exists(box.Path("user")));
}

// A run reads "Clean.ini" once for its switches, its marker and what its steps need, and
// afresh only after a question, while which the user could change the settings.
TEST_F(CleaningRunTest, ARunReadsTheFileOnceUnlessItAskedTheUser) {
  box.SetEnv("Temp", box.TempDir());
  const std::string on = "[Delete]\nUser=Yes\nTemp=Yes\nTemporary Internet Files=Yes\n[User]\nsFile0=" +
                         box.Path("user") + "\n";
  struct Case {
    const char* what;
    std::optional<std::string> ini;
    Entry entry;
    int opens;
  };
  const Case cases[] = {
      {"no file", std::nullopt, Entry::kUnattended, 0},
      {"all on", on, Entry::kUnattended, 1},
      {"all on, keep list saved", on + "[Internet]\nsFile0=https://kept.test/\n", Entry::kTray, 1},
      {"all on, keep list saved", on + "[Internet]\nsFile0=https://kept.test/\n", Entry::kInteractive, 1},
      {"unsaved keep list, answered Yes", on, Entry::kTray, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(ConfigFilePath().c_str());
    if (c.ini) Sandbox::WriteFile(ConfigFilePath(), *c.ini);
    Sandbox::WriteFile(box.Path("user/u.dat"), "x");
    Sandbox::WriteFile(box.Path("temp/t.tmp"), "x");
    RecordingUi recording;
    const int opens = testing::OpensOf(ConfigFilePath(), [&] {
      switch (c.entry) {
        case Entry::kInteractive: RunInteractiveClean(recording); break;
        case Entry::kTray: RunTrayClean(recording); break;
        case Entry::kUnattended: RunUnattendedClean(recording); break;
      }
    });
    EXPECT_EQ(opens, c.opens);
    // The steps got the same answers from the one reading as from their own.
    EXPECT_EQ(Sandbox::Exists(box.Path("user/u.dat")), !c.ini);
    EXPECT_EQ(Sandbox::Exists(box.Path("temp/t.tmp")), !c.ini);
  }
}

}  // namespace
}  // namespace tidrex::engine
