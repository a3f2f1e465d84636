// The information pages and the About page: their texts, and where their commands lead.
#include <string>
#include <tuple>
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
  const std::tuple<const char*, const char*, const char*> pages[] = {
      {"Form4", "This program will clean all the \"Cookies\", \"Temp Files\"", "each form has its own help file."},
      {"Form4a", "Here you can designate the files you want to clean,", "there will be no warning before cleaning."},
      {"Form4b", "This form allows you to designate a folder",
       "You can double check the path by going to \"View Paths\"."},
      {"Form4c", "This form shows all of the \"Cookies\" you have accumulated in your travels",
       "Click the \"Cookies\" Button to see the cookies in your Cookie Folder."},
      {"Form4d", "This form shows all of the \"Cookies\" you have accumulated in your Cookie folder.",
       "are not deleted when you remove the cookies from the Internet File."},
  };
  for (const auto& [name, opening, ending] : pages) {
    SCOPED_TRACE(name);
    GoTo(name);
    auto* page = dynamic_cast<screens::InfoPage*>(Loaded(name));
    ASSERT_NE(page, nullptr);
    const std::string text = page->Label1.Caption();
    EXPECT_EQ(text.rfind(opening, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::string(ending).size()), ending);
    forms::testing::UnloadEverything();
  }
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

}  // namespace
}  // namespace tidrex::screens_testing
