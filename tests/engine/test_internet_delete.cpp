#include "engine/internet_delete.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/internet_cache.h"
#include "tests/support/cache_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::engine {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using tidrex::testing::Sandbox;
namespace fx = tidrex::testing;

// The walk exactly as the cleaning step describes it: compare each entry with the keep
// list in order, stop at the first "" or "0".
std::vector<std::string> ReferenceWalk(std::vector<std::string> deletion, const std::vector<std::string>& keep) {
  for (std::size_t i = 0; i < deletion.size() && !deletion[i].empty() && deletion[i] != "0";)
    if (std::find(keep.begin(), keep.end(), deletion[i]) != keep.end())
      deletion.erase(deletion.begin() + static_cast<std::ptrdiff_t>(i));
    else
      ++i;
  return deletion;
}

// ---- The sparing walk -------------------------------------------------------------------

TEST(SpareKeptEntries, MatchesWholeTextsExactlyAndSparesDuplicatesOnEitherSide) {
  EXPECT_THAT(SpareKeptEntries({"https://site.test/", "https://site.test/deep/page.html", "https://SITE.test/",
                                "https://site.test", "https://site.test/ ", "https://other.test/"},
                               {"https://site.test/"}),
              ElementsAre("https://site.test/deep/page.html", "https://SITE.test/", "https://site.test",
                          "https://site.test/ ", "https://other.test/"));
  const std::vector<std::string> listing = {"a://x", "b://y", "a://x", "c://z", "a://x"};
  EXPECT_THAT(SpareKeptEntries(listing, {"a://x", "a://x"}), ElementsAre("b://y", "c://z"));
  EXPECT_THAT(SpareKeptEntries(listing, {"c://z", "b://y", "a://x"}), IsEmpty());
  EXPECT_EQ(SpareKeptEntries(listing, {}), listing);
}

TEST(SpareKeptEntries, AnEmptyOrZeroEntryEndsTheWalk) {
  EXPECT_THAT(SpareKeptEntries({"k://1", "d://2", "", "k://1", "d://3"}, {"k://1"}),
              ElementsAre("d://2", "", "k://1", "d://3"));
  EXPECT_THAT(SpareKeptEntries({"d://2", "k://1", "0", "k://1"}, {"k://1"}), ElementsAre("d://2", "0", "k://1"));
  // "0" and "" on the keep list change nothing either.
  EXPECT_THAT(SpareKeptEntries({"0", "k://1"}, {"0", "", "k://1"}), ElementsAre("0", "k://1"));
}

TEST(SpareKeptEntries, LargeListsGiveTheSameResultAsTheOneByOneWalk) {
  std::vector<std::string> keep, listing;
  for (int i = 0; i < 1001; ++i) keep.push_back("https://keep.test/" + std::to_string(i * 29));
  for (int i = 0; i < 30000; ++i) listing.push_back("https://keep.test/" + std::to_string(i));
  listing[29000] = "0";  // late stop: the tail is not spared
  std::rotate(listing.begin(), listing.begin() + 12345, listing.end());
  const auto fast = SpareKeptEntries(listing, keep);
  EXPECT_EQ(fast, ReferenceWalk(listing, keep));
  // Some were spared before the stop, and kept URLs after it were not.
  EXPECT_LT(fast.size(), listing.size());
  EXPECT_GT(fast.size(), listing.size() - keep.size());
}

// ---- Listing and cleaning over fixture caches ----------------------------------------

class InternetDeleteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium = fx::MakeChromiumProfile(box);
    firefox = fx::MakeFirefoxProfile(box);
  }
  void WriteKeepList(const std::vector<std::string>& urls) {
    std::string ini = "[Delete]\nTemporary Internet Files=Yes\n[Internet]\n";
    for (std::size_t i = 0; i < urls.size(); ++i) ini += "sFile" + std::to_string(i) + "=" + urls[i] + "\n";
    Sandbox::WriteFile(box.IniPath(), ini);
  }

  Sandbox box;
  std::string chromium, firefox;
};

TEST_F(InternetDeleteTest, ListsOnlyNormalEntriesInCacheOrder) {
  fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf("https://ff.test/"));
  const std::string evicted = fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf("https://evicted.test/"));
  fx::SetMtime(evicted, 1600000000);
  const std::string marker = firefox + "/ce_Kg==";
  Sandbox::WriteFile(marker, "");
  fx::SetMtime(marker, 1650000000);
  fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf("predictor-origin:https://ff.test/", ""));
  fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://cr.test/"));

  EXPECT_THAT(ListCacheEntries(), ElementsAre("https://ff.test/", "https://cr.test/"));
  // Entries without the normal bit are neither listed nor deleted.
  WriteKeepList({"https://nothing.test/"});
  CleanInternetCache();
  EXPECT_TRUE(Sandbox::Exists(evicted));
  EXPECT_THAT(ListCacheEntries(), IsEmpty());
}

TEST_F(InternetDeleteTest, CleaningSparesExactlyTheKeptUrlsInEveryBrowserAndPartition) {
  const std::string kept = "https://site.test/keep.css";
  const std::string gone = "https://site.test/gone.js";
  std::vector<std::string> kept_files, gone_files;
  kept_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey(kept)));
  kept_files.push_back(fx::WriteChromiumEntry(
      chromium, fx::ChromiumPartitionedKey("https://a.test", "https://a.test", kept)));
  kept_files.push_back(fx::WriteChromiumSparse(chromium, fx::ChromiumGetKey(kept)));
  kept_files.push_back(fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf(kept, "O^partitionKey=%28https%2Ca.test%29,a,")));
  gone_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey(gone)));
  gone_files.push_back(fx::WriteChromiumSparse(chromium, fx::ChromiumGetKey(gone)));
  gone_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumPostKey(77, gone)));
  gone_files.push_back(fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf(gone)));
  gone_files.push_back(fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf(gone, "a,~1712345678,")));
  // Near misses of the kept URL are deleted: another case, a prefix, a longer URL.
  gone_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://site.test/KEEP.css")));
  gone_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://site.test/")));
  gone_files.push_back(fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf(kept + "?v=2")));
  // A kept URL longer than a settings read carries is matched whole, and its cut is not it.
  const std::string long_url = "https://site.test/asset?" + std::string(276, 'q');
  ASSERT_EQ(long_url.size(), 300u);
  kept_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey(long_url)));
  kept_files.push_back(fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf(long_url)));
  gone_files.push_back(fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey(long_url.substr(0, 254))));

  WriteKeepList({"https://site.test", kept, "https://other.test/", kept, long_url});
  CleanInternetCache();
  for (const auto& f : kept_files) EXPECT_TRUE(Sandbox::Exists(f)) << f;
  for (const auto& f : gone_files) EXPECT_FALSE(Sandbox::Exists(f)) << f;
  EXPECT_THAT(ListCacheEntries(), ::testing::UnorderedElementsAre(kept, kept, kept, long_url, long_url));
}

TEST_F(InternetDeleteTest, AnEntirelyKeptCacheStaysWholeAndWithoutAKeepListEverythingGoes) {
  fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://a.test/"));
  fx::WriteFirefoxEntry(firefox, fx::FirefoxKeyOf("https://b.test/"));
  WriteKeepList({"https://b.test/", "https://a.test/"});
  CleanInternetCache();
  EXPECT_THAT(ListCacheEntries(), ElementsAre("https://b.test/", "https://a.test/"));
  unlink(box.IniPath().c_str());
  CleanInternetCache();
  EXPECT_THAT(ListCacheEntries(), IsEmpty());
}

TEST_F(InternetDeleteTest, OnlyTheFirst1001KeepEntriesCount) {
  fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://entry1000.test/"));
  fx::WriteChromiumEntry(chromium, fx::ChromiumGetKey("https://entry1001.test/"));
  std::vector<std::string> keep;
  for (int i = 0; i < 1002; ++i) keep.push_back("https://entry" + std::to_string(i) + ".test/");
  WriteKeepList(keep);
  CleanInternetCache();
  EXPECT_THAT(ListCacheEntries(), ElementsAre("https://entry1000.test/"));
}

}  // namespace
}  // namespace tidrex::engine
