// The options page: the three switches written at once, and the interactive clean with its
// three outcomes as the user sees them.
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/cleaning_run.h"
#include "engine/ini_settings.h"
#include "screens/form2.h"
#include "shell/form10.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using testing::Sandbox;

class OptionsTest : public ScreensTest {
 protected:
  screens::Form2& OpenOptions() {
    OpenScreens();
    Click("Form1", "sOptions");
    return *screens::Form2Slot().Loaded();
  }
  std::string Switch(const std::string& key) const {
    return engine::ReadIniValue(sandbox_.IniPath(), "Delete", key, "<missing>");
  }
  void FillTemp() const {
    Sandbox::WriteFile(sandbox_.TempDir() + "/a.tmp", "a");
    Sandbox::WriteFile(sandbox_.TempDir() + "/sub/b.tmp", "b");
  }
  bool TempEmpty() const {
    return !Sandbox::Exists(sandbox_.TempDir() + "/a.tmp") && !Sandbox::Exists(sandbox_.TempDir() + "/sub");
  }
  static bool OnlyStartUpFormLeft() { return LoadedNames() == std::vector<std::string>{"Form1a"}; }
};

TEST_F(OptionsTest, EachBoxWritesYesThenNoAtOnce) {
  screens::Form2& page = OpenOptions();
  const std::pair<forms::CheckBox*, const char*> boxes[] = {
      {&page.Check1, "User"}, {&page.Check2, "Temp"}, {&page.Check3, "Temporary Internet Files"}};
  for (const auto& [box, key] : boxes) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(forms::testing::ClickCheckBox(*box));
    EXPECT_EQ(box->Value(), 1);
    EXPECT_EQ(Switch(key), "Yes");
    EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorArrowHourglass);
    ASSERT_TRUE(forms::testing::ClickCheckBox(*box));
    EXPECT_EQ(box->Value(), 0);
    EXPECT_EQ(Switch(key), "No");
  }
  // The busy cursor goes 50 ms after the click.
  EXPECT_TRUE(WaitFor([] { return forms::Screen::MousePointer() == forms::kCursorDefault; }, 1000));
  EXPECT_EQ(page.Check1.Caption(), "Your Selected Folder");
  EXPECT_EQ(page.Check2.Caption(), "Temp Folder");
  EXPECT_EQ(page.Check3.Caption(), "Clean Cookie Files");
}

TEST_F(OptionsTest, OnlyAnExactYesTicksABoxAndOtherValuesStayInTheFile) {
  const std::string ini =
      "[Delete]\r\nUser=yes\r\nTemp=0\r\nTemporary Internet Files=\r\n[User]\r\nsFile0=/x\r\n";
  WriteIni(ini);
  screens::Form2& page = OpenOptions();
  EXPECT_EQ(page.Check1.Value(), 0);
  EXPECT_EQ(page.Check2.Value(), 0);
  EXPECT_EQ(page.Check3.Value(), 0);
  EXPECT_EQ(Ini(), ini);
  forms::testing::UnloadEverything();

  // A missing key as well; and no file at all leaves no file behind.
  WriteIni("[Delete]\r\nTemp=Yes\r\n");
  screens::Form2& second = OpenOptions();
  EXPECT_EQ(second.Check1.Value(), 0);
  EXPECT_EQ(second.Check2.Value(), 1);
  EXPECT_EQ(second.Check3.Value(), 0);
  EXPECT_EQ(Switch("Temp"), "Yes");
  EXPECT_EQ(Switch("User"), "<missing>");
  forms::testing::UnloadEverything();

  std::remove(sandbox_.IniPath().c_str());
  OpenOptions();
  EXPECT_FALSE(Sandbox::Exists(sandbox_.IniPath()));
}

TEST_F(OptionsTest, CleanNowAloneStartsNothing) {
  WriteIni("[Delete]\r\nTemp=Yes\r\n[Internet]\r\nsFile0=http://kept.test/\r\n");
  FillTemp();
  screens::Form2& page = OpenOptions();
  ASSERT_TRUE(forms::testing::ClickMenu(page, "sCleana"));
  Wait(100);
  if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
  Wait(100);
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(TempEmpty());
  EXPECT_TRUE(page.Visible());
}

TEST_F(OptionsTest, NothingSelectedShowsTheMessageThenBackdropAndStartPage) {
  LoadStartupForm();
  std::remove(sandbox_.IniPath().c_str());
  screens::Form2& page = OpenOptions();
  Click("Form2", "sClean");
  EXPECT_THAT(messages_, ElementsAre(Message{engine::kTextNothingSelected, 64, engine::kTitleNothingSelected}));
  EXPECT_TRUE(IsShown("Form10"));
  EXPECT_TRUE(IsShown("Form1"));
  EXPECT_FALSE(page.Visible());
  // The options page goes 50 ms after the run returned; the start page stays.
  EXPECT_TRUE(WaitFor([] { return !IsLoaded("Form2"); }, 1000));
  Wait(300);
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", "Form1"));
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "Make a selection to get started!"; }));
}

class UnsavedKeepList : public OptionsTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnsavedKeepList, IsAskedAboutFirstNoCleansNothingYesCleansAndReports) {
  const int answer = GetParam();
  LoadStartupForm();
  FillTemp();
  OpenOptions();
  ASSERT_TRUE(forms::testing::ClickCheckBox(screens::Form2Slot().Loaded()->Check2));
  answers_ = {answer};
  Click("Form2", "sClean");
  const Message asked{engine::kTextKeepListNotSaved, 36, engine::kTitleKeepListNotSaved};
  EXPECT_EQ(asked.text, "You have not saved any Cookies !\r\rDo you want to continue?");
  ASSERT_FALSE(messages_.empty());
  EXPECT_TRUE(messages_[0].backdrop_visible);
  if (answer == forms::kIdNo)
    EXPECT_THAT(messages_, ElementsAre(asked));
  else
    EXPECT_THAT(messages_, ElementsAre(asked, Message{engine::kTextAllCleaned, 64, engine::kTitleAllCleaned}));
  EXPECT_THAT(VisibleNames(), ElementsAre());
  EXPECT_TRUE(WaitFor(OnlyStartUpFormLeft, 2000)) << ::testing::PrintToString(LoadedNames());
  EXPECT_EQ(TempEmpty(), answer == forms::kIdYes);
}

INSTANTIATE_TEST_SUITE_P(Answers, UnsavedKeepList, ::testing::Values(forms::kIdNo, forms::kIdYes));

TEST_F(OptionsTest, FullCleanEmptiesTempReportsWhileBackdropShownAndClosesEverything) {
  LoadStartupForm();
  FillTemp();
  OpenOptions();
  ASSERT_TRUE(forms::testing::ClickCheckBox(screens::Form2Slot().Loaded()->Check2));  // ticked on the page
  WriteIni(Ini() + "[Internet]\r\nsFile0=http://kept.test/\r\n");
  Click("Form2", "sClean");
  ASSERT_THAT(messages_, ElementsAre(Message{engine::kTextAllCleaned, 64, engine::kTitleAllCleaned}));
  EXPECT_TRUE(messages_[0].backdrop_visible);
  EXPECT_EQ(StatusLine(), engine::kStatusFinished);
  EXPECT_TRUE(TempEmpty());
  EXPECT_TRUE(Sandbox::Exists(sandbox_.TempDir())) << "the folder itself stays";
  EXPECT_THAT(VisibleNames(), ElementsAre());
  EXPECT_TRUE(WaitFor(OnlyStartUpFormLeft, 2000)) << ::testing::PrintToString(LoadedNames());
}

TEST_F(OptionsTest, NoReportWhenTheBackdropIsHiddenAtTheEnd) {
  LoadStartupForm();
  FillTemp();
  WriteIni("[Delete]\r\nTemp=Yes\r\n[Internet]\r\nsFile0=http://kept.test/\r\n");
  OpenOptions();
  shell::Form10Slot().Loaded()->Hide();
  Click("Form2", "sClean");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(TempEmpty());
  EXPECT_TRUE(WaitFor(OnlyStartUpFormLeft, 2000));
}

TEST_F(OptionsTest, HelpUnloadsThePageAndItsCloseLoadsAFreshOneReadingTheFileAgain) {
  OpenOptions();
  Click("Form2", "sHelp");
  ASSERT_TRUE(WaitFor([] { return !IsLoaded("Form2"); }, 1000));
  WriteIni("[Delete]\r\nUser=Yes\r\n");
  page_loads_.clear();
  Click("Form4a", "sClose");
  screens::Form2* second = screens::Form2Slot().Loaded();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->Visible());
  ASSERT_EQ(page_loads_.size(), 1u);
  EXPECT_EQ(second->Check1.Value(), 1);
}

}  // namespace
}  // namespace tidrex::screens_testing
