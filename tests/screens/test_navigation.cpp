// The page frame as a user meets it: every row of the navigation table, "Close" on every
// page, the status line on activation, menu bars, and the title bar's close.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "screens/form1.h"
#include "screens/page_frame.h"
#include "shell/form10.h"
#include "shell/form1a.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Step {
  const char* form;
  const char* item;
};

// How the user reaches a page from the start page.
std::vector<Step> PathTo(const std::string& page) {
  if (page == "Form1") return {};
  if (page == "Form2") return {{"Form1", "sOptions"}};
  if (page == "frmPath") return {{"Form1", "sPath"}};
  if (page == "frmUser") return {{"Form1", "sCookies"}};
  if (page == "Form5") return {{"Form1", "sAbout"}};
  if (page == "Form3a") return {{"Form1", "sInter"}};
  if (page == "Form3c") return {{"Form1", "sInter"}, {"Form3a", "sCookies"}};
  if (page == "Form4") return {{"Form1", "sHelp"}};
  if (page == "Form4a") return {{"Form1", "sOptions"}, {"Form2", "sHelp"}};
  if (page == "Form4b") return {{"Form1", "sCookies"}, {"frmUser", "sHelp"}};
  if (page == "Form4c") return {{"Form1", "sInter"}, {"Form3a", "sHelp"}};
  if (page == "Form4d") return {{"Form1", "sInter"}, {"Form3a", "sCookies"}, {"Form3c", "sHelp"}};
  ADD_FAILURE() << "no path to " << page;
  return {};
}

bool IsInfoPage(const std::string& name) { return name.rfind("Form4", 0) == 0; }

struct Row {
  const char* page;
  const char* item;
  const char* target;
  int cursor;  // busy cursor while the target opens; 0 where the command leaves it alone
  bool stays;
  int self_unload_ms;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << r.page << "." << r.item << " -> " << r.target;
}

constexpr int k13 = forms::kCursorArrowHourglass;
constexpr int k11 = forms::kCursorHourglass;

const Row kRows[] = {
    {"Form1", "sPath", "frmPath", k13, false, 100},
    {"Form1", "sOptions", "Form2", k13, false, 100},
    {"Form1", "sInter", "Form3a", k13, false, 100},
    {"Form1", "sCookies", "frmUser", k13, false, 100},
    {"Form1", "sHelp", "Form4", k13, true, 100},
    {"Form1", "sAbout", "Form5", k13, false, 100},
    {"Form2", "sPaths", "frmPath", k13, false, 50},
    {"Form2", "sInternet", "Form3a", k13, false, 50},
    {"Form2", "sCookies", "frmUser", k13, false, 50},
    {"Form2", "sHelp", "Form4a", k13, false, 50},
    {"Form2", "sAbout", "Form5", k13, false, 50},
    {"frmPath", "sOptions", "Form2", k13, false, 500},
    {"frmPath", "sInter", "Form3a", k13, false, 500},
    {"frmPath", "sCookies", "frmUser", k13, false, 500},
    {"frmPath", "sAbout", "Form5", k13, false, 500},
    {"frmUser", "sView", "frmPath", k13, false, 500},
    {"frmUser", "sOptions", "Form2", k13, false, 500},
    {"frmUser", "ViewInter", "Form3a", k13, false, 500},
    {"frmUser", "sHelp", "Form4b", k13, true, 500},
    {"frmUser", "sAbout", "Form5", k13, false, 500},
    {"Form5", "sPath", "frmPath", k13, false, 500},
    {"Form5", "sOptions", "Form2", k11, false, 500},
    {"Form5", "sInter", "Form3a", k11, false, 500},
    {"Form5", "sCookies", "frmUser", k11, false, 500},
    {"Form3a", "sPath", "frmPath", k13, false, 500},
    {"Form3a", "sOptions", "Form2", k11, false, 500},
    {"Form3a", "sCook", "frmUser", k13, false, 500},
    {"Form3a", "sCookies", "Form3c", 0, false, 500},
    {"Form3a", "sHelp", "Form4c", k13, false, 500},
    {"Form3a", "sAbout", "Form5", k13, false, 500},
    {"Form3c", "sPath", "frmPath", k13, false, 500},
    {"Form3c", "sOptions", "Form2", k11, false, 500},
    {"Form3c", "sCook", "frmUser", k13, false, 500},
    {"Form3c", "sReturn", "Form3a", 0, false, 500},
    {"Form3c", "sHelp", "Form4d", k13, true, 500},
    {"Form3c", "sAbout", "Form5", k13, false, 500},
    {"Form4", "sClose", "Form1", k13, false, 500},
    {"Form4", "sAbout", "Form5", k13, false, 500},
    {"Form4a", "sClose", "Form2", k11, false, 500},
    {"Form4a", "sAbout", "Form5", k11, false, 500},
    {"Form4b", "sClose", "frmUser", k11, false, 500},
    {"Form4b", "sAbout", "Form5", k11, false, 500},
    {"Form4c", "sClose", "Form3a", k11, false, 500},
    {"Form4c", "sAbout", "Form5", k11, false, 500},
    {"Form4c", "sCookies", "Form3c", 0, false, 500},
    {"Form4d", "sClose", "Form3c", k11, false, 500},
    {"Form4d", "sAbout", "Form5", k11, false, 500},
};

class NavigationTest : public ScreensTest, public ::testing::WithParamInterface<Row> {
 protected:
  // Follows the user's path to `page` and lets the pages left on the way unload.
  void GoTo(const std::string& page) {
    OpenScreens();
    for (const Step& s : PathTo(page)) Click(s.form, s.item);
    ASSERT_TRUE(WaitFor([] {
      for (forms::Form* f : forms::LoadedForms()) {
        auto* p = dynamic_cast<screens::Page*>(f);
        if (p && p->SelfUnloadTimer().Enabled()) return false;
      }
      return true;
    }));
    ASSERT_TRUE(IsShown(page)) << page;
  }
};

TEST_P(NavigationTest, OpensTargetWithItsCursorAndLeavesOrKeepsThePage) {
  const Row& row = GetParam();
  GoTo(row.page);
  forms::Form* source = Loaded(row.page);
  forms::Form* target_before = Loaded(row.target);
  page_loads_.clear();
  shows_.clear();

  Click(row.page, row.item);

  // The page is hidden, not destroyed inside its own handler.
  EXPECT_FALSE(source->Visible());
  EXPECT_EQ(Loaded(row.page), source);
  ASSERT_TRUE(IsShown(row.target));
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", row.target));
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);

  // The busy cursor that was up while the target was loaded, or shown again.
  if (target_before) {
    EXPECT_EQ(Loaded(row.target), target_before) << "a loaded page is shown again, not rebuilt";
    EXPECT_TRUE(std::none_of(page_loads_.begin(), page_loads_.end(),
                             [&](const CursorAt& c) { return c.form == row.target; }));
    ASSERT_FALSE(shows_.empty());
    EXPECT_EQ(shows_.front().form, row.target);
    EXPECT_EQ(shows_.front().cursor, row.cursor);
  } else {
    ASSERT_FALSE(page_loads_.empty());
    EXPECT_EQ(page_loads_.front().form, row.target);
    EXPECT_EQ(page_loads_.front().cursor, row.cursor);
  }

  const std::string timer_name = IsInfoPage(row.page) ? "Timer2" : "Timer3";
  auto* self_unload = dynamic_cast<forms::Timer*>(source->FindControl(timer_name));
  ASSERT_NE(self_unload, nullptr);
  EXPECT_EQ(self_unload->Interval(), row.self_unload_ms);
  if (row.stays) {
    EXPECT_FALSE(self_unload->Enabled());
    Wait(row.self_unload_ms + 200);
    EXPECT_EQ(Loaded(row.page), source);
    EXPECT_FALSE(source->Visible());
  } else {
    EXPECT_TRUE(self_unload->Enabled());
    EXPECT_TRUE(WaitFor([&] { return !IsLoaded(row.page); }, row.self_unload_ms + 2000));
  }
  EXPECT_TRUE(IsShown(row.target));
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, NavigationTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.page) + "_" + info.param.item;
                         });

// ---------------------------------------------------------------------------------------

struct ClosePage {
  const char* page;
  int close_all_ms;
  bool hides_backdrop_at_once;
};

class CloseTest : public NavigationTest {};

TEST_F(CloseTest, CloseOnEveryMainPageLeavesOnlyTheStartUpForm) {
  const ClosePage pages[] = {{"Form1", 600, true},  {"Form2", 500, true},  {"frmPath", 600, true},
                             {"frmUser", 50, true}, {"Form3a", 50, false}, {"Form3c", 50, false},
                             {"Form5", 600, false}};
  LoadStartupForm();
  for (const ClosePage& c : pages) {
    SCOPED_TRACE(c.page);
    GoTo(c.page);
    forms::Form* page = Loaded(c.page);
    auto* close_all = dynamic_cast<forms::Timer*>(page->FindControl("Timer2"));
    ASSERT_NE(close_all, nullptr);
    EXPECT_EQ(close_all->Interval(), c.close_all_ms);

    Click(c.page, "sClose");
    EXPECT_FALSE(page->Visible());
    EXPECT_EQ(IsShown("Form10"), !c.hides_backdrop_at_once);
    EXPECT_TRUE(close_all->Enabled());
    EXPECT_TRUE(IsLoaded(c.page));

    ASSERT_TRUE(WaitFor([] { return LoadedNames() == std::vector<std::string>{"Form1a"}; },
                        c.close_all_ms + 2000))
        << ::testing::PrintToString(LoadedNames());
    EXPECT_THAT(VisibleNames(), ElementsAre());
    EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  }
}

TEST_F(CloseTest, ScreensOpenAgainWithFreshPagesAfterClose) {
  LoadStartupForm();
  GoTo("Form4");  // Form1 stays loaded behind its help page
  Click("Form4", "sAbout");
  Click("Form5", "sClose");
  ASSERT_TRUE(WaitFor([] { return LoadedNames() == std::vector<std::string>{"Form1a"}; }));
  page_loads_.clear();
  OpenScreens();
  EXPECT_TRUE(IsShown("Form1"));
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", "Form1"));
  ASSERT_EQ(page_loads_.size(), 1u);
  EXPECT_EQ(page_loads_[0].form, "Form1");
}

// ---------------------------------------------------------------------------------------

TEST_F(NavigationTest, ActivationWritesEachPagesStatusText) {
  const std::pair<const char*, const char*> texts[] = {
      {"Form1", "Make a selection to get started!"},
      {"Form2", "Select the options to clean!"},
      {"frmPath", "Location of files to be cleaned!"},
      {"frmUser", "Select a folder to be cleaned!"},
      {"Form5", "About this program!"},
      {"Form3a", "0 Internet Files Collected !"},
      {"Form3c", "0 Cookie Folder Files !"},
      {"Form4", "Hope this information helps!"},
      {"Form4a", "Hope this information helps!"},
      {"Form4b", "Hope this information helps!"},
      {"Form4c", "Hope this information helps!"},
      {"Form4d", "Hope this information helps!"},
  };
  for (const auto& [page, text] : texts) {
    SCOPED_TRACE(page);
    GoTo(page);
    EXPECT_TRUE(WaitFor([&] { return StatusLine() == text; })) << StatusLine();
    EXPECT_TRUE(StatusLineVisible());

    // Another window of the program taking over clears the line and leaves it visible.
    shell::Form10Slot().Loaded()->SetForeground();
    EXPECT_TRUE(WaitFor([] { return StatusLine().empty(); })) << StatusLine();
    EXPECT_TRUE(StatusLineVisible());
    forms::testing::UnloadEverything();
  }
}

TEST_F(NavigationTest, FirstStartOpensTheBackdropAndTheStartPage) {
  ASSERT_FALSE(testing::Sandbox::Exists(sandbox_.IniPath()));
  shell::Form1aSlot().Get();
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", "Form1"));
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "Make a selection to get started!"; })) << StatusLine();
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
}

TEST_F(NavigationTest, StatusLineComesBackWhenAHiddenPageIsShownAgain) {
  GoTo("Form4b");
  Click("Form4b", "sClose");
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "Select a folder to be cleaned!"; })) << StatusLine();
}

TEST_F(NavigationTest, MenuBarsOfferTheCommandsInOrder) {
  using V = std::vector<std::string>;
  const std::pair<const char*, V> bars[] = {
      {"Form1", {"View Paths", "Options", "View Cookies", "User Folder", "Help", "About", "Close"}},
      {"Form2", {"View Paths", "View Cookies", "User Folder", "Clean Now", "Help", "About", "Close"}},
      {"frmPath", {"Options", "View Cookies", "User Folder", "About", "Close"}},
      {"frmUser", {"View Paths", "Options", "View Cookies", "Save", "Help", "About", "Close"}},
      {"Form5", {"View Paths", "Options", "View Cookies", "User Folder", "Close"}},
      {"Form3a", {"View Paths", "Options", "User Folder", "Save", "Cookies", "Help", "About", "Close"}},
      {"Form3c", {"View Paths", "Options", "User Folder", "Delete", "Internet", "Help", "About", "Close"}},
      {"Form4", {"Close", "About"}},
      {"Form4a", {"Close", "About"}},
      {"Form4b", {"Close", "About"}},
      {"Form4c", {"Close", "About", "Cookies"}},
      {"Form4d", {"Close", "About"}},
  };
  for (const auto& [page, captions] : bars) {
    SCOPED_TRACE(page);
    GoTo(page);
    EXPECT_THAT(forms::testing::MenuBarCaptions(*Loaded(page)), ElementsAreArray(captions));
    forms::testing::UnloadEverything();
  }
}

TEST_F(NavigationTest, PagesHaveTheirCaptions) {
  const std::pair<const char*, const char*> captions[] = {
      {"Form1", "  Varnok Tidrex----Main Start Page"},
      {"Form2", "  Varnok Tidrex----Choose The Folders You Want To Clean"},
      {"frmPath", "  Varnok Tidrex----Paths To Be Cleaned"},
      {"frmUser", "Varnok Tidrex-----User Designated Folder To Clean"},
      {"Form5", "  Varnok Tidrex----About File"},
      {"Form3a", "Varnok Tidrex----Save Your Cookies Here"},
      {"Form3c", "Varnok Tidrex----Save Your Cookies Here"},
      {"Form4", "  Varnok Tidrex----Close Will  Take You Back To Main Start Page"},
      {"Form4a", "  Varnok Tidrex----Close Will  Take You Back To Options Page"},
      {"Form4b", "  Varnok Tidrex----Close Will  Take You Back"},
      {"Form4c", "  Varnok Tidrex----Close Will  Take You Back To Cookies Page"},
      {"Form4d", "  Varnok Tidrex----Close Will  Take You Back To Cookies Page"},
  };
  for (const auto& [page, caption] : captions) {
    SCOPED_TRACE(page);
    GoTo(page);
    EXPECT_EQ(Loaded(page)->Caption(), caption);
    forms::testing::UnloadEverything();
  }
}

TEST_F(NavigationTest, StartPageAfterHelpIsTheSameInstanceWithoutANewLoad) {
  GoTo("Form1");
  forms::Form* start = Loaded("Form1");
  Click("Form1", "sHelp");
  page_loads_.clear();
  Click("Form4", "sClose");
  EXPECT_EQ(Loaded("Form1"), start);
  EXPECT_TRUE(start->Visible());
  EXPECT_TRUE(page_loads_.empty());
  EXPECT_TRUE(WaitFor([] { return !IsLoaded("Form4"); }));

  // A second "Help" loads the information page anew.
  Click("Form1", "sHelp");
  ASSERT_EQ(page_loads_.size(), 1u);
  EXPECT_EQ(page_loads_[0].form, "Form4");
}

TEST_F(NavigationTest, PageLeftByAboutFromItsHelpStaysHiddenAndIsReusedLater) {
  GoTo("Form4b");
  forms::Form* user = Loaded("frmUser");
  Click("Form4b", "sAbout");
  ASSERT_TRUE(WaitFor([] { return !IsLoaded("Form4b"); }));
  EXPECT_EQ(Loaded("frmUser"), user);
  EXPECT_FALSE(user->Visible());
  page_loads_.clear();
  Click("Form5", "sCookies");
  EXPECT_EQ(Loaded("frmUser"), user);
  EXPECT_TRUE(user->Visible());
  EXPECT_TRUE(page_loads_.empty());
}

TEST_F(NavigationTest, ComingBackBeforeThePageUnloadedGivesAFreshPageThatStays) {
  GoTo("frmPath");
  Click("frmPath", "sOptions");
  forms::Form* old_paths = Loaded("frmPath");
  ASSERT_NE(old_paths, nullptr);  // still waiting out its 500 ms
  page_loads_.clear();
  Click("Form2", "sPaths");
  ASSERT_TRUE(IsShown("frmPath"));
  ASSERT_EQ(page_loads_.size(), 1u);
  EXPECT_EQ(page_loads_[0].form, "frmPath");
  Wait(800);
  EXPECT_TRUE(IsShown("frmPath")) << "the page the user is looking at must not vanish";
  EXPECT_THAT(VisibleNames(), ElementsAre("Form10", "frmPath"));
}

TEST_F(NavigationTest, TitleBarCloseUnloadsOnlyThatPage) {
  LoadStartupForm();
  GoTo("Form4b");  // frmUser stays loaded behind it
  forms::testing::CloseByTitleBar(*Loaded("Form4b"));
  EXPECT_TRUE(WaitFor([] { return !IsLoaded("Form4b"); }));
  EXPECT_THAT(LoadedNames(), ::testing::IsSupersetOf({"Form1a", "Form10", "frmUser"}));
  EXPECT_TRUE(IsShown("Form10"));
  Wait(200);
  EXPECT_TRUE(IsLoaded("frmUser"));
}

}  // namespace
}  // namespace tidrex::screens_testing
