// The Internet files page over a fixture cache.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/ini_settings.h"
#include "engine/internet_delete.h"
#include "screens/form3a.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr const char* kA = "https://a.example/index.html";
constexpr const char* kB = "https://b.example/style.css";
constexpr const char* kC = "http://c.example/img.png";
constexpr const char* kD = "https://d.example/new.js";

class InternetPageTest : public ScreensTest {
 protected:
  InternetPageTest() {
    for (const char* url : {kA, kB, kC}) AddCacheEntry(url);
    WriteIni("[Internet]\r\nsFile0=" + std::string(kB) + "\r\n");
  }
  screens::Form3a& OpenInternet() {
    OpenScreens();
    Click("Form1", "sInter");
    return *screens::Form3aSlot().Loaded();
  }
  std::vector<std::string> KeepList() const { return engine::ReadIniList(sandbox_.IniPath(), "Internet"); }
};

TEST_F(InternetPageTest, KeptEntryStillCachedIsListedInBothLists) {
  screens::Form3a& page = OpenInternet();
  EXPECT_EQ(page.List1.Items(), engine::ListCacheEntries());
  EXPECT_THAT(page.List1.Items(), UnorderedElementsAre(kA, kB, kC));
  EXPECT_THAT(page.List2.Items(), ElementsAre(kB));
  EXPECT_EQ(page.Label5.Caption(), "3");
  EXPECT_EQ(page.Label4.Caption(), "1");
  EXPECT_EQ(page.Label2.Caption(), "Internet Files Collected");
  EXPECT_EQ(page.Label1.Caption(), "Internet Cookies Saved");
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "3 Internet Files Collected !"; })) << StatusLine();
}

TEST_F(InternetPageTest, MovingAKeptEntryDownAgainStoresItTwiceUnderConsecutiveKeys) {
  screens::Form3a& page = OpenInternet();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, kB)));
  EXPECT_THAT(page.List2.Items(), ElementsAre(kB, kB));
  EXPECT_EQ(page.Label4.Caption(), "2");
  EXPECT_EQ(page.Label5.Caption(), "2");

  Click("Form3a", "sDeleteCookies");
  EXPECT_EQ(engine::ReadIniValue(sandbox_.IniPath(), "Internet", "sFile0"), kB);
  EXPECT_EQ(engine::ReadIniValue(sandbox_.IniPath(), "Internet", "sFile1"), kB);
  EXPECT_EQ(engine::ReadIniValue(sandbox_.IniPath(), "Internet", "sFile2", "<missing>"), "<missing>");
  // Reloaded from the cache and the file.
  EXPECT_THAT(page.List1.Items(), UnorderedElementsAre(kA, kB, kC));
  EXPECT_THAT(page.List2.Items(), ElementsAre(kB, kB));
  EXPECT_EQ(page.Label5.Caption(), "3");
  EXPECT_EQ(page.Label4.Caption(), "2");
  EXPECT_TRUE(page.Visible());
}

TEST_F(InternetPageTest, MovesUpAndDownKeepTheCounts) {
  screens::Form3a& page = OpenInternet();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, kA)));
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List2, IndexOf(page.List2, kB)));
  EXPECT_THAT(page.List2.Items(), ElementsAre(kA));
  EXPECT_EQ(page.List1.Items().back(), kB);
  EXPECT_EQ(page.List1.ListCount(), 3);
  EXPECT_EQ(page.Label5.Caption(), "3");
  EXPECT_EQ(page.Label4.Caption(), "1");
  // The status line counts what the page loaded, not the moves.
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "3 Internet Files Collected !"; })) << StatusLine();
}

TEST_F(InternetPageTest, SaveWithAnEmptyBottomListLeavesNoInternetKey) {
  WriteIni("[Delete]\r\nTemp=Yes\r\n[Internet]\r\nsFile0=" + std::string(kB) + "\r\n");
  screens::Form3a& page = OpenInternet();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List2, 0));
  EXPECT_THAT(page.List2.Items(), IsEmpty());
  Click("Form3a", "sDeleteCookies");
  EXPECT_EQ(engine::ReadIniValue(sandbox_.IniPath(), "Internet", "sFile0", "<missing>"), "<missing>");
  EXPECT_EQ(engine::ReadIniValue(sandbox_.IniPath(), "Delete", "Temp"), "Yes") << "other settings carried over";
  EXPECT_THAT(page.List2.Items(), IsEmpty());
  EXPECT_EQ(page.Label4.Caption(), "0");
  EXPECT_EQ(page.Label5.Caption(), "3");
}

TEST_F(InternetPageTest, LeavingWithoutSaveDiscardsTheMoves) {
  screens::Form3a& page = OpenInternet();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, kA)));
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, kC)));
  const std::string before = Ini();
  Click("Form3a", "sPath");
  ASSERT_TRUE(WaitFor([] { return !IsLoaded("Form3a"); }));
  EXPECT_EQ(Ini(), before);
  Click("frmPath", "sInter");
  screens::Form3a* again = screens::Form3aSlot().Loaded();
  ASSERT_NE(again, nullptr);
  EXPECT_THAT(again->List2.Items(), ElementsAre(kB));
  EXPECT_THAT(again->List1.Items(), UnorderedElementsAre(kA, kB, kC));
}

TEST_F(InternetPageTest, ReturnFromItsHelpRebuildsThePage) {
  screens::Form3a& page = OpenInternet();
  ASSERT_TRUE(forms::testing::DoubleClickListItem(page.List1, IndexOf(page.List1, kA)));
  Click("Form3a", "sHelp");
  ASSERT_TRUE(WaitFor([] { return !IsLoaded("Form3a"); }));
  AddCacheEntry(kD);
  page_loads_.clear();
  Click("Form4c", "sClose");
  screens::Form3a* rebuilt = screens::Form3aSlot().Loaded();
  ASSERT_NE(rebuilt, nullptr);
  ASSERT_EQ(page_loads_.size(), 1u);
  EXPECT_EQ(page_loads_[0].form, "Form3a");
  EXPECT_THAT(rebuilt->List1.Items(), UnorderedElementsAre(kA, kB, kC, kD));
  EXPECT_THAT(rebuilt->List2.Items(), ElementsAre(kB));
  EXPECT_EQ(rebuilt->Label5.Caption(), "4");
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "4 Internet Files Collected !"; })) << StatusLine();
}

TEST_F(InternetPageTest, DoubleClickOnAnEmptyListChangesNothing) {
  WriteIni("");
  screens::Form3a& page = OpenInternet();
  EXPECT_FALSE(forms::testing::DoubleClickListItem(page.List2, 0));
  page.List2.DblClick();  // as a double click beside the entries would
  EXPECT_EQ(page.List1.ListCount(), 3);
  EXPECT_EQ(page.Label4.Caption(), "0");
  EXPECT_EQ(page.Label5.Caption(), "3");
}

}  // namespace
}  // namespace tidrex::screens_testing
