// The information pages and the About page: their texts, and where their commands lead.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "screens/form4.h"
#include "screens/form5.h"
#include "shell/form10.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class InformationTest : public ScreensTest {};

TEST_F(InformationTest, EachPageExplainsItsWorkingPage) {
  struct Page {
    const char* via_form;
    const char* via_item;
    const char* name;
    const char* opening;
    const char* ending;
  };
  const Page pages[] = {
      {"Form1", "sHelp", "Form4", "This program will clean all the \"Cookies\", \"Temp Files\"",
       "each form has its own help file."},
      {"Form2", "sHelp", "Form4a", "Here you can designate the files you want to clean,",
       "there will be no warning before cleaning."},
      {"frmUser", "sHelp", "Form4b", "This form allows you to designate a folder",
       "You can double check the path by going to \"View Paths\"."},
      {"Form3a", "sHelp", "Form4c", "This form shows all of the \"Cookies\" you have accumulated in your travels",
       "Click the \"Cookies\" Button to see the cookies in your Cookie Folder."},
      {"Form3c", "sHelp", "Form4d", "This form shows all of the \"Cookies\" you have accumulated in your Cookie folder.",
       "are not deleted when you remove the cookies from the Internet File."},
  };
  const std::pair<const char*, const char*> way_to[] = {
      {"Form1", nullptr}, {"Form2", "sOptions"}, {"frmUser", "sCookies"}, {"Form3a", "sInter"}, {"Form3c", "sInter"}};
  for (std::size_t i = 0; i < std::size(pages); ++i) {
    const Page& p = pages[i];
    SCOPED_TRACE(p.name);
    OpenScreens();
    if (way_to[i].second) Click("Form1", way_to[i].second);
    if (std::string(p.via_form) == "Form3c") Click("Form3a", "sCookies");
    Click(p.via_form, p.via_item);
    auto* page = dynamic_cast<screens::InfoPage*>(Loaded(p.name));
    ASSERT_NE(page, nullptr);
    const std::string text = page->Label1.Caption();
    EXPECT_EQ(text.rfind(p.opening, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::string(p.ending).size()), p.ending);
    forms::testing::UnloadEverything();
  }
}

TEST_F(InformationTest, TextsKeepTheirOwnSpacing) {
  OpenScreens();
  Click("Form1", "sHelp");
  auto* page = dynamic_cast<screens::InfoPage*>(Loaded("Form4"));
  ASSERT_NE(page, nullptr);
  EXPECT_THAT(page->Label1.Caption(), HasSubstr("accumulate very quickly.The program will"));
  EXPECT_THAT(page->Label1.Caption(), HasSubstr("basicly you just save"));
}

TEST_F(InformationTest, EveryInformationPageGoesAwayAfterItsCommand) {
  OpenScreens();
  Click("Form1", "sHelp");
  Click("Form4", "sAbout");
  EXPECT_TRUE(IsShown("Form5"));
  EXPECT_TRUE(IsLoaded("Form4"));
  EXPECT_TRUE(WaitFor([] { return !IsLoaded("Form4"); }, 1500));
}

class AboutTest : public ScreensTest {};

TEST_F(AboutTest, ShowsTitleVersionNoteAndContacts) {
  OpenScreens();
  Click("Form1", "sAbout");
  screens::Form5* about = screens::Form5Slot().Loaded();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->Label1.Caption(), "Varnok Tidrex Utility");
  EXPECT_EQ(about->Label2.Caption(), "Version  2.3.01");
  EXPECT_EQ(about->Label4.Caption().rfind("This program was written out of the frustration", 0), 0u);
  EXPECT_THAT(about->Label4.Caption(), HasSubstr("by using the letter \"A\" in the command line.. I hope"));
  EXPECT_THAT(about->Label5.Caption(), HasSubstr("@example.com"));
  EXPECT_THAT(about->Label3.Caption(), HasSubstr("example.org"));
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "About this program!"; })) << StatusLine();
}

TEST_F(AboutTest, CloseFromTheTrayLeavesOnlyTheStartUpForm) {
  LoadStartupForm();
  // The tray's "About": the backdrop first, then the About page.
  shell::Form10Slot().Get();
  screens::Form5Slot().Get();
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", "Form5"));
  Click("Form5", "sClose");
  EXPECT_FALSE(IsShown("Form5"));
  EXPECT_TRUE(IsLoaded("Form5"));
  ASSERT_TRUE(WaitFor([] { return LoadedNames() == std::vector<std::string>{"Form1a"}; }, 2000))
      << ::testing::PrintToString(LoadedNames());
  EXPECT_THAT(VisibleNames(), ElementsAre());
}

TEST_F(AboutTest, CloseFromAWorkingPageDoesNotGoBack) {
  LoadStartupForm();
  OpenScreens();
  Click("Form1", "sHelp");  // the start page stays loaded behind
  Click("Form4", "sAbout");
  Click("Form5", "sClose");
  ASSERT_TRUE(WaitFor([] { return LoadedNames() == std::vector<std::string>{"Form1a"}; }, 2000))
      << ::testing::PrintToString(LoadedNames());
  EXPECT_THAT(VisibleNames(), ElementsAre());
}

}  // namespace
}  // namespace tidrex::screens_testing
