// The page frame as a user meets it: every row of the navigation table, "Close" on every
// page, captions, menu bars, the status line on activation, and the title bar's close.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "screens/navigation.h"
#include "screens/page_frame.h"
#include "shell/form10.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens {
// Where GoogleTest looks for a row's printer.
std::ostream& operator<<(std::ostream& os, const NavigationRow& r) {
  return os << r.page << "." << r.item << " -> " << r.target;
}
}  // namespace tidrex::screens

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

bool IsInfoPage(const std::string& name) { return name.rfind("Form4", 0) == 0; }

using Row = screens::NavigationRow;

// The self-unload interval of each page the rows leave.
int SelfUnloadMs(const std::string& page) { return page == "Form1" ? 100 : page == "Form2" ? 50 : 500; }

class NavigationTest : public ScreensTest, public ::testing::WithParamInterface<Row> {};

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
  EXPECT_EQ(self_unload->Interval(), SelfUnloadMs(row.page));
  if (row.stays) {
    EXPECT_FALSE(self_unload->Enabled());
    Wait(SelfUnloadMs(row.page) + 200);
    EXPECT_EQ(Loaded(row.page), source);
    EXPECT_FALSE(source->Visible());
  } else {
    EXPECT_TRUE(self_unload->Enabled());
    EXPECT_TRUE(WaitFor([&] { return !IsLoaded(row.page); }, SelfUnloadMs(row.page) + 2000));
  }
  EXPECT_TRUE(IsShown(row.target));
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  EXPECT_TRUE(WaitFor([] { return !StatusLine().empty(); })) << "the target writes its status text";
}

INSTANTIATE_TEST_SUITE_P(EveryRow, NavigationTest, ::testing::ValuesIn(screens::NavigationRows()),
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

struct PageFace {
  const char* page;
  const char* caption;
  const char* status;
  std::vector<std::string> menu_bar;
};

TEST_F(NavigationTest, EachPageShowsItsCaptionMenuBarAndStatusText) {
  const char* const kHelpStatus = "Hope this information helps!";
  const PageFace faces[] = {
      {"Form1", "  Varnok Tidrex----Main Start Page", "Make a selection to get started!",
       {"View Paths", "Options", "View Cookies", "User Folder", "Help", "About", "Close"}},
      {"Form2", "  Varnok Tidrex----Choose The Folders You Want To Clean", "Select the options to clean!",
       {"View Paths", "View Cookies", "User Folder", "Clean Now", "Help", "About", "Close"}},
      {"frmPath", "  Varnok Tidrex----Paths To Be Cleaned", "Location of files to be cleaned!",
       {"Options", "View Cookies", "User Folder", "About", "Close"}},
      {"frmUser", "Varnok Tidrex-----User Designated Folder To Clean", "Select a folder to be cleaned!",
       {"View Paths", "Options", "View Cookies", "Save", "Help", "About", "Close"}},
      {"Form5", "  Varnok Tidrex----About File", "About this program!",
       {"View Paths", "Options", "View Cookies", "User Folder", "Close"}},
      {"Form3a", "Varnok Tidrex----Save Your Cookies Here", "0 Internet Files Collected !",
       {"View Paths", "Options", "User Folder", "Save", "Cookies", "Help", "About", "Close"}},
      {"Form3c", "Varnok Tidrex----Save Your Cookies Here", "0 Cookie Folder Files !",
       {"View Paths", "Options", "User Folder", "Delete", "Internet", "Help", "About", "Close"}},
      {"Form4", "  Varnok Tidrex----Close Will  Take You Back To Main Start Page", kHelpStatus, {"Close", "About"}},
      {"Form4a", "  Varnok Tidrex----Close Will  Take You Back To Options Page", kHelpStatus, {"Close", "About"}},
      {"Form4b", "  Varnok Tidrex----Close Will  Take You Back", kHelpStatus, {"Close", "About"}},
      {"Form4c", "  Varnok Tidrex----Close Will  Take You Back To Cookies Page", kHelpStatus,
       {"Close", "About", "Cookies"}},
      {"Form4d", "  Varnok Tidrex----Close Will  Take You Back To Cookies Page", kHelpStatus, {"Close", "About"}},
  };
  for (const PageFace& f : faces) {
    SCOPED_TRACE(f.page);
    GoTo(f.page);
    EXPECT_EQ(Loaded(f.page)->Caption(), f.caption);
    EXPECT_THAT(forms::testing::MenuBarCaptions(*Loaded(f.page)), ElementsAreArray(f.menu_bar));
    EXPECT_TRUE(WaitFor([&] { return StatusLine() == f.status; })) << StatusLine();
    EXPECT_TRUE(StatusLineVisible());

    // Another window of the program taking over clears the line and leaves it visible.
    shell::Form10Slot().Loaded()->SetForeground();
    EXPECT_TRUE(WaitFor([] { return StatusLine().empty(); })) << StatusLine();
    EXPECT_TRUE(StatusLineVisible());
    forms::testing::UnloadEverything();
  }
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
