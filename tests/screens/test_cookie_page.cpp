// The cookie folder page over fixture cookie stores of both browser families.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "screens/form3c.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CookiePageTest : public ScreensTest {
 protected:
  CookiePageTest() {
    WriteChromiumCookies({{".a.test", "x"},
                          {"www.b.test", "y"},
                          {".c.test", "z"},
                          {"shop.d.test", "w"},
                          {".d.test", "v"}});
    WriteFirefoxCookies({{".b.test", "y"}, {"e.test", "u"}, {".c.test", "t"}});
  }
  screens::Form3c& OpenCookies() {
    OpenScreens();
    Click("Form1", "sInter");
    Click("Form3a", "sCookies");
    return *screens::Form3cSlot().Loaded();
  }
};

TEST_F(CookiePageTest, ListsEverySiteOnceWithItsCount) {
  screens::Form3c& page = OpenCookies();
  EXPECT_THAT(page.List1.Items(), ElementsAre("a.test", "b.test", "c.test", "d.test", "e.test"));
  EXPECT_THAT(page.List2.Items(), IsEmpty());
  EXPECT_EQ(page.Label5.Caption(), "5");
  EXPECT_EQ(page.Label4.Caption(), "0");
  EXPECT_EQ(page.Label2.Caption(), "Cookie Folder Files");
  EXPECT_EQ(page.Label1.Caption(), "Cookies To Delete");
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "5 Cookie Folder Files !"; })) << StatusLine();
}

TEST_F(CookiePageTest, DeleteRemovesExactlyTheChosenSitesFromBothStores) {
  screens::Form3c& page = OpenCookies();
  for (const char* site : {"b.test", "e.test", "a.test"})
    ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, site)));
  EXPECT_THAT(page.List2.Items(), ElementsAre("b.test", "e.test", "a.test"));
  EXPECT_EQ(page.Label4.Caption(), "3");
  EXPECT_EQ(page.Label5.Caption(), "2");

  Click("Form3c", "sDeleteCookies");
  EXPECT_THAT(ChromiumCookieHosts(), ElementsAre(".c.test", ".d.test", "shop.d.test"));
  EXPECT_THAT(FirefoxCookieHosts(), ElementsAre(".c.test"));
  EXPECT_THAT(page.List1.Items(), ElementsAre("c.test", "d.test"));
  EXPECT_THAT(page.List2.Items(), IsEmpty());
  EXPECT_EQ(page.Label5.Caption(), "2");
  EXPECT_EQ(page.Label4.Caption(), "0");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(page.Visible());
}

TEST_F(CookiePageTest, DeleteWithNothingChosenOnlyListsAgain) {
  screens::Form3c& page = OpenCookies();
  WriteFirefoxCookies({{"f.test", "n"}});  // a site that appeared meanwhile (same store file)
  Click("Form3c", "sDeleteCookies");
  EXPECT_THAT(page.List1.Items(), ElementsAre("a.test", "b.test", "c.test", "d.test", "e.test", "f.test"));
  EXPECT_THAT(ChromiumCookieHosts(), ::testing::SizeIs(5));
}

TEST_F(CookiePageTest, ReturnFromItsHelpShowsTheSameListsWithTheMovedNames) {
  screens::Form3c& page = OpenCookies();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, "c.test")));
  Click("Form3c", "sHelp");
  Wait(700);
  page_loads_.clear();
  Click("Form4d", "sClose");
  EXPECT_EQ(screens::Form3cSlot().Loaded(), &page);
  EXPECT_TRUE(page.Visible());
  EXPECT_TRUE(page_loads_.empty());
  EXPECT_THAT(page.List1.Items(), ElementsAre("a.test", "b.test", "d.test", "e.test"));
  EXPECT_THAT(page.List2.Items(), ElementsAre("c.test"));
  EXPECT_EQ(page.Label4.Caption(), "1");
}

TEST_F(CookiePageTest, LeavingByInternetAndComingBackListsAfresh) {
  screens::Form3c& page = OpenCookies();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, 0));
  Click("Form3c", "sReturn");
  ASSERT_TRUE(WaitFor([] { return !IsLoaded("Form3c"); }));
  Click("Form3a", "sCookies");
  screens::Form3c* again = screens::Form3cSlot().Loaded();
  ASSERT_NE(again, nullptr);
  EXPECT_THAT(again->List1.Items(), ::testing::SizeIs(5));
  EXPECT_THAT(again->List2.Items(), IsEmpty());
}

TEST_F(CookiePageTest, CookiesFromTheInternetHelpPageReplacesTheInternetPage) {
  OpenScreens();
  Click("Form1", "sInter");
  Click("Form3a", "sHelp");
  Click("Form4c", "sCookies");
  EXPECT_FALSE(IsLoaded("Form3a"));
  EXPECT_TRUE(IsShown("Form3c"));
  EXPECT_THAT(screens::Form3cSlot().Loaded()->List1.Items(), ::testing::SizeIs(5));
  EXPECT_TRUE(WaitFor([] { return !IsLoaded("Form4c"); }));
}

}  // namespace
}  // namespace tidrex::screens_testing
