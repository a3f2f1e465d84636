#include "engine/cleaning_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/ini_settings.h"
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
    if (style == 36) return answer;
    return 1;
  }
  void SetStatusLine(const std::string& caption) override { log.push_back("SetStatusLine(" + caption + ")"); }
  void RepaintBackdrop() override { log.push_back("RepaintBackdrop"); }
  bool BackdropVisible() override {
    log.push_back("BackdropVisible");
    return backdrop_visible;
  }
  void ShowBackdrop() override {
    log.push_back("ShowBackdrop");
    if (showing_makes_visible) backdrop_visible = true;
  }
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
  bool showing_makes_visible = true;
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

TEST_F(CleaningRunTest, NoConfigurationFile) {
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", kNothing, "ShowBackdrop",
                 "ShowMainStartPage"}));
  ui.log.clear();
  EXPECT_EQ(Run(Entry::kTray), (Log{kNothing, "ShowBackdrop", "ShowMainStartPage"}));
  ui.log.clear();
  EXPECT_EQ(Run(Entry::kUnattended), (Log{"EndProgram"}));
}

TEST_F(CleaningRunTest, AllSwitchesOffCountAsNothingSelected) {
  for (const char* off : {"No", "0", ""}) {
    Switches(off, off, off);
    Marker("https://kept.test/");
    ui.log.clear();
    EXPECT_EQ(Run(Entry::kTray), (Log{kNothing, "ShowBackdrop", "ShowMainStartPage"})) << off;
    ui.log.clear();
    EXPECT_EQ(Run(Entry::kUnattended), (Log{"EndProgram"})) << off;
  }
}

TEST_F(CleaningRunTest, InteractiveRunWithEverythingOnAndAKeepList) {
  Switches("Yes", "Yes", "Yes");
  Marker("https://kept.test/");
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", "step:user", "step:temp",
                 "step:internet", "BackdropVisible", "SetStatusLine(All Finished Cleaning Files !)",
                 "RepaintBackdrop", "Sleep(1000)", kCleaned, "SetDefaultCursor", "HideAllForms",
                 "EnableCloseAllTimer"}));
}

TEST_F(CleaningRunTest, TrayRunHasNoStartOrFinishSignal) {
  Switches("Yes", "Yes", "Yes");
  Marker("https://kept.test/");
  EXPECT_EQ(Run(Entry::kTray), (Log{"step:user", "step:temp", "step:internet", "SetDefaultCursor",
                                    "HideAllForms", "EnableCloseAllTimer"}));
}

TEST_F(CleaningRunTest, UnattendedRunNeverAsksAndEndsTheProgram) {
  Switches("Yes", "Yes", "Yes");  // and no keep list saved
  EXPECT_EQ(Run(Entry::kUnattended), (Log{"step:user", "step:temp", "step:internet", "SetDefaultCursor",
                                          "HideAndUnloadAllForms", "EndProgram"}));
}

TEST_F(CleaningRunTest, UnsavedKeepListAskedEvenWhenTheInternetStepIsOff) {
  Switches("Yes", "No", "No");
  ui.answer = 7;
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", "ShowBackdrop", kQuestion,
                 "SetDefaultCursor", "HideAllForms", "EnableCloseAllTimer"}));
  ui.log.clear();
  EXPECT_EQ(Run(Entry::kTray), (Log{"ShowBackdrop", kQuestion, "SetDefaultCursor", "HideAllForms",
                                    "EnableCloseAllTimer"}));
}

TEST_F(CleaningRunTest, AnsweringYesHidesTheOptionsPageAndCleans) {
  Switches("Yes", "No", "Yes");
  Marker("No");
  ui.answer = 6;
  EXPECT_EQ(Run(Entry::kTray), (Log{"ShowBackdrop", kQuestion, "HideOptionsPage", "step:user",
                                    "step:internet", "SetDefaultCursor", "HideAllForms",
                                    "EnableCloseAllTimer"}));
  ui.log.clear();
  ui.backdrop_visible = false;
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", "ShowBackdrop", kQuestion,
                 "HideOptionsPage", "step:user", "step:internet", "BackdropVisible",
                 "SetStatusLine(All Finished Cleaning Files !)", "RepaintBackdrop", "Sleep(1000)", kCleaned,
                 "SetDefaultCursor", "HideAllForms", "EnableCloseAllTimer"}))
      << "the question showed the backdrop, so the finish signal follows";
}

TEST_F(CleaningRunTest, AnAnswerOtherThanYesCleansNothing) {
  Switches("Yes", "Yes", "Yes");
  ui.answer = 0;  // the box went away without a Yes
  EXPECT_EQ(Run(Entry::kTray), (Log{"ShowBackdrop", kQuestion, "SetDefaultCursor", "HideAllForms",
                                    "EnableCloseAllTimer"}));
}

TEST_F(CleaningRunTest, KeepListMarkerRules) {
  Switches("No", "Yes", "No");
  struct Case {
    std::optional<std::string> marker;
    bool asked;
  };
  for (const Case& c : {Case{std::nullopt, true}, Case{"0", true}, Case{"No", true}, Case{"", false},
                        Case{"no", false}, Case{"https://a.test/", false}}) {
    if (c.marker) Marker(*c.marker);
    ui.log.clear();
    Log log = Run(Entry::kTray);
    const bool asked = std::find(log.begin(), log.end(), kQuestion) != log.end();
    EXPECT_EQ(asked, c.asked) << (c.marker ? '"' + *c.marker + '"' : std::string("missing"));
    EXPECT_NE(std::find(log.begin(), log.end(), "step:temp"), log.end());
  }
}

TEST_F(CleaningRunTest, LowerCaseYesIsSelectedButRunsNoStep) {
  Switches("yes", "No", "No");
  Marker("https://kept.test/");
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", "BackdropVisible",
                 "SetStatusLine(All Finished Cleaning Files !)", "RepaintBackdrop", "Sleep(1000)", kCleaned,
                 "SetDefaultCursor", "HideAllForms", "EnableCloseAllTimer"}));
  ui.log.clear();
  EXPECT_EQ(Run(Entry::kUnattended), (Log{"SetDefaultCursor", "HideAndUnloadAllForms", "EndProgram"}));
}

TEST_F(CleaningRunTest, HiddenBackdropMeansNoFinishSignal) {
  Switches("Yes", "Yes", "Yes");
  Marker("https://kept.test/");
  ui.backdrop_visible = false;
  EXPECT_EQ(Run(Entry::kInteractive),
            (Log{"SetStatusLine(Cleaning Files Now !)", "RepaintBackdrop", "step:user", "step:temp",
                 "step:internet", "BackdropVisible", "SetDefaultCursor", "HideAllForms",
                 "EnableCloseAllTimer"}));
}

// Every combination of the switch values, the marker states and the answers, against the
// rules of the runs stated one by one.
TEST_F(CleaningRunTest, EverySwitchCombinationFollowsTheRules) {
  const std::vector<std::optional<std::string>> values{std::nullopt, "Yes", "No", "0", "", "yes"};
  const std::vector<std::optional<std::string>> markers{std::nullopt, "No", "", "https://k.test/"};
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
              EXPECT_EQ(has("step:user"), cleans && user == std::optional<std::string>("Yes"));
              EXPECT_EQ(has("step:temp"), cleans && temp == std::optional<std::string>("Yes"));
              EXPECT_EQ(has("step:internet"), cleans && internet == std::optional<std::string>("Yes"));
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
              // Steps always come in the order user, temp, Internet.
              std::vector<std::string> steps;
              for (const auto& call : log)
                if (call.rfind("step:", 0) == 0) steps.push_back(call);
              EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end(), [](const std::string& a, const std::string& b) {
                auto rank = [](const std::string& s) { return s == "step:user" ? 0 : s == "step:temp" ? 1 : 2; };
                return rank(a) < rank(b);
              }));
              if (HasFailure()) return;
            }
        }
  EXPECT_EQ(runs, 6 * 6 * 6 * 4 * 2 * 3);
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

}  // namespace
}  // namespace tidrex::engine
