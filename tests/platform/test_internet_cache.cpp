#include "platform/internet_cache.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/cache_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using tidrex::testing::Sandbox;
namespace fx = tidrex::testing;

// Wraps bytes and records every read, to prove a reader stays inside the file and reads
// only what it needs.
class RecordingBytes final : public EntryBytes {
 public:
  explicit RecordingBytes(std::string_view bytes) : inner_(bytes), size_(bytes.size()) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::span<char> out) const override {
    if (offset > size_ || out.size() > size_ - offset) ++out_of_range;
    bytes_read += out.size();
    return inner_.ReadAt(offset, out);
  }
  mutable int out_of_range = 0;
  mutable std::size_t bytes_read = 0;

 private:
  SpanEntryBytes inner_;
  std::uint64_t size_;
};

// ---- File names -----------------------------------------------------------------------

TEST(CacheFileNames, Sha1DigestsAndTheTwoBrowsersNames) {
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  // 56 bytes: the padding spills into a second block.
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  // SHA-1("abc") begins a9 99 3e 36 47 06 81 6a: Chromium reads 8 bytes little-endian.
  EXPECT_EQ(ChromiumEntryHash("abc"), "6a810647363e99a9");
  EXPECT_EQ(FirefoxEntryHash("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

// ---- Chromium reader ------------------------------------------------------------------

TEST(ChromiumEntryReader, ReadsVersionAndKeyFromTheHeaderOnly) {
  const std::string key = fx::ChromiumGetKey("https://site.test/app.js");
  const std::string file = fx::ChromiumStreamFile(key, std::string(100000, 'b'));
  RecordingBytes bytes(file);
  auto head = ReadChromiumEntry(bytes);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->version, 5u);
  EXPECT_EQ(head->key, key);
  EXPECT_EQ(bytes.out_of_range, 0);
  EXPECT_EQ(bytes.bytes_read, 24 + key.size());
  auto sparse = ReadChromiumEntry(SpanEntryBytes(fx::ChromiumSparseFile(key, "xyz")));
  ASSERT_TRUE(sparse);
  EXPECT_EQ(sparse->version, 9u);
  EXPECT_EQ(sparse->key, key);
}

TEST(ChromiumEntryReader, TruncatedForeignAndLyingHeadersAreRejectedWithoutReadingPastTheEnd) {
  const std::string key = fx::ChromiumGetKey("https://site.test/a.css");
  const std::string file = fx::ChromiumHeader(key, 5);
  for (std::size_t n = 0; n < file.size(); ++n) {
    RecordingBytes bytes(std::string_view(file).substr(0, n));
    EXPECT_FALSE(ReadChromiumEntry(bytes)) << n;
    EXPECT_EQ(bytes.out_of_range, 0) << n;
  }
  EXPECT_TRUE(ReadChromiumEntry(SpanEntryBytes(file)));

  std::string wrong_magic = fx::ChromiumStreamFile("1/0/https://a.test/", "x");
  wrong_magic[0] ^= 1;
  EXPECT_FALSE(ReadChromiumEntry(SpanEntryBytes(wrong_magic)));

  // A key length the file cannot back is never allocated.
  std::string huge = fx::ChromiumHeader("1/0/https://a.test/", 5);
  huge[12] = huge[13] = huge[14] = huge[15] = '\xff';
  RecordingBytes bytes(huge);
  EXPECT_FALSE(ReadChromiumEntry(bytes));
  EXPECT_EQ(bytes.bytes_read, 24u);

  EXPECT_FALSE(ReadChromiumEntry(SpanEntryBytes(fx::ChromiumHeader("", 5))));
  EXPECT_FALSE(ReadChromiumEntry(SpanEntryBytes(std::string_view("<html>not a cache entry, just text</html>"))));
}

TEST(ChromiumKeys, TheUrlFollowsThePrefixOrTheLastBlankOfAPartitionedKey) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"1/0/https://site.test/a.css", "https://site.test/a.css"},
      {"1/4711/https://site.test/form", "https://site.test/form"},  // POST
      {"https://old.test/x", "https://old.test/x"},                 // no prefix
      {"1/0/_dk_https://top.test https://top.test https://cdn.test/lib.js", "https://cdn.test/lib.js"},
      {"1/0/_dk_s_https://top.test https://frame.test https://cdn.test/a%20b.js", "https://cdn.test/a%20b.js"},
      {"1/0/_dk_cn_https://top.test https://top.test http://x.test/", "http://x.test/"},
      // Malformed keys give nothing.
      {"1/x/https://a.test/", std::nullopt},
      {"1/0", std::nullopt},
      {"1/0/", std::nullopt},
      {"1/0/_dk_https://top.test https://a.test/", std::nullopt},  // one blank only
      {"1/0/https://a.test/two words", std::nullopt},
      {std::string("1/0/https://a.test/\n", 21), std::nullopt},
      {std::string("1/0/https://a\0.test/", 20), std::nullopt}};
  for (const auto& [key, url] : cases) EXPECT_EQ(ChromiumKeyUrl(key), url) << key;
}

// ---- Firefox reader -------------------------------------------------------------------

TEST(FirefoxEntryReader, ReadsTheMetadataAtTheOffsetInTheLastFourBytes) {
  const std::string key = fx::FirefoxKeyOf("https://site.test/a.css");
  fx::FirefoxEntryOptions o;
  o.last_modified = 1712345678;
  o.flags = 1;
  const std::string file = fx::FirefoxEntryFile(key, std::string(5000, 'b'), o);
  RecordingBytes bytes(file);
  auto head = ReadFirefoxEntry(bytes);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->version, 4u);
  EXPECT_EQ(head->last_modified, 1712345678u);
  EXPECT_EQ(head->flags, 1u);
  EXPECT_EQ(head->key, key);
  EXPECT_EQ(bytes.out_of_range, 0);
  // The offset, the header fields and the key: nothing of the body.
  EXPECT_LE(bytes.bytes_read, 4 + 4 + 32 + key.size() + 1);
}

TEST(FirefoxEntryReader, SkipsOneChunkHashPerQuarterMebibyteAndReadsOlderVersions) {
  const std::string key = fx::FirefoxKeyOf("https://site.test/big.bin");
  for (std::size_t body : {0u, 1u, 262144u, 262145u, 600000u}) {
    auto head = ReadFirefoxEntry(SpanEntryBytes(fx::FirefoxEntryFile(key, std::string(body, 'z'))));
    ASSERT_TRUE(head) << body;
    EXPECT_EQ(head->key, key) << body;
  }
  for (std::uint32_t version : {1u, 2u, 3u}) {
    fx::FirefoxEntryOptions o;
    o.version = version;
    o.flags = 1;
    auto head = ReadFirefoxEntry(SpanEntryBytes(fx::FirefoxEntryFile(key, "body", o)));
    ASSERT_TRUE(head) << version;
    EXPECT_EQ(head->key, key);
    EXPECT_EQ(head->flags, version == 1 ? 0u : 1u);  // version 1 has no flags field
  }
}

TEST(FirefoxEntryReader, TruncatedAndLyingEntriesAreRejectedWithoutReadingPastTheEnd) {
  const std::string key = fx::FirefoxKeyOf("https://a.test/x");
  const std::string file = fx::FirefoxEntryFile(key, "0123456789");
  for (std::size_t n = 0; n < file.size(); ++n) {
    RecordingBytes bytes(std::string_view(file).substr(0, n));
    EXPECT_FALSE(ReadFirefoxEntry(bytes)) << n;
    EXPECT_EQ(bytes.out_of_range, 0) << n;
  }
  const std::string& good = file;
  ASSERT_TRUE(ReadFirefoxEntry(SpanEntryBytes(good)));

  std::string offset_beyond = good;
  offset_beyond[offset_beyond.size() - 4] = '\x7f';
  EXPECT_FALSE(ReadFirefoxEntry(SpanEntryBytes(offset_beyond)));

  // The key size lives at metadata + 4 (hash) + 2 (one chunk) + 24.
  std::string huge_key = good;
  const std::size_t key_size_at = 10 + 4 + 2 + 24;
  for (int i = 0; i < 4; ++i) huge_key[key_size_at + i] = '\xff';
  RecordingBytes bytes(huge_key);
  EXPECT_FALSE(ReadFirefoxEntry(bytes));
  EXPECT_LT(bytes.bytes_read, 100u);

  std::string no_nul = good;
  no_nul[10 + 4 + 2 + 32 + key.size()] = 'X';
  EXPECT_FALSE(ReadFirefoxEntry(SpanEntryBytes(no_nul)));

  std::string bad_version = good;
  bad_version[10 + 4 + 2 + 3] = 0;
  EXPECT_FALSE(ReadFirefoxEntry(SpanEntryBytes(bad_version)));
}

TEST(FirefoxKeys, TagsComeBeforeTheUrlAndDoubledCommasBelongToTheTag) {
  auto key = ParseFirefoxKey("O^partitionKey=%28https%2Ctop.test%29,a,~1712345678,:https://cdn.test/x.js");
  ASSERT_TRUE(key);
  EXPECT_THAT(key->tags, ElementsAre("O^partitionKey=%28https%2Ctop.test%29", "a", "~1712345678"));
  EXPECT_EQ(key->url, "https://cdn.test/x.js");
  auto bare = ParseFirefoxKey(":http://site.test/");
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->tags.empty());
  EXPECT_EQ(bare->url, "http://site.test/");
  auto doubled = ParseFirefoxKey("O^userContextId=5&x=a,,b,,,a,:https://site.test/p?q=1,2");
  ASSERT_TRUE(doubled);
  EXPECT_THAT(doubled->tags, ElementsAre("O^userContextId=5&x=a,b,", "a"));
  EXPECT_EQ(doubled->url, "https://site.test/p?q=1,2");
  // A value holding ",:" is not the start of the URL.
  EXPECT_EQ(ParseFirefoxKey("O^k=a,,:b,:https://real.test/")->url, "https://real.test/");
  for (const char* no_url : {"a,", "a", "a,:", "", "a,:https://x.test/a b"}) EXPECT_FALSE(ParseFirefoxKey(no_url)) << no_url;
}

// ---- WebKit reader --------------------------------------------------------------------

TEST(WebKitRecordReader, ReadsTheKeyAndChecksItsHashUnderTheCachesSalt) {
  const std::string url = "https://site.test/app.js?v=2";
  for (const bool old_rule : {false, true}) {
    fx::WebKitRecordOptions o;
    o.old_hash_rule = old_rule;
    o.partition = "other.test";
    const std::string file = fx::WebKitRecordFile(url, std::string(300, 'b'), o);
    RecordingBytes bytes(file);
    auto head = ReadWebKitRecord(bytes);
    ASSERT_TRUE(head) << old_rule;
    EXPECT_EQ(head->version, 17u);
    EXPECT_EQ(head->partition, "other.test");
    EXPECT_EQ(head->type, "Resource");
    EXPECT_EQ(head->identifier, url);
    EXPECT_FALSE(head->range);
    EXPECT_TRUE(head->body_inline);
    EXPECT_EQ(head->body_size, 300u);
    EXPECT_EQ(fx::UpperHexOf(std::string(head->hash.begin(), head->hash.end())),
              fx::UpperHexOf(fx::WebKitKeyHash(url, o)));
    EXPECT_EQ(bytes.out_of_range, 0);
    EXPECT_LT(bytes.bytes_read, 200u) << "the body is never read";
    EXPECT_TRUE(WebKitKeyMatchesSalt(*head, fx::kWebKitSalt));
    EXPECT_FALSE(WebKitKeyMatchesSalt(*head, "12345678"));
    EXPECT_FALSE(WebKitKeyMatchesSalt(*head, "short"));
  }
  // A body in the blob store leaves only the header in the record.
  fx::WebKitRecordOptions blob;
  blob.body_in_blob = true;
  auto head = ReadWebKitRecord(SpanEntryBytes(fx::WebKitRecordFile(url, std::string(9000, 'b'), blob)));
  ASSERT_TRUE(head);
  EXPECT_FALSE(head->body_inline);
  EXPECT_EQ(head->body_size, 9000u);

  // Strings of 16-bit characters come back as UTF-8.
  std::string wide = fx::WebKitRecordFile(url, "x");
  const std::size_t at = wide.find(url) - 5;  // length and flag of the identifier
  std::string utf16;
  fx::PutLe32(&utf16, 3);
  utf16.push_back('\0');
  for (const char16_t c : std::u16string(u"h\u00e9\u4e2d")) fx::Put(&utf16, c, 2, false);
  wide.replace(at, 5 + url.size(), utf16);
  head = ReadWebKitRecord(SpanEntryBytes(wide));
  ASSERT_TRUE(head);
  EXPECT_EQ(head->identifier, "h\xc3\xa9\xe4\xb8\xad");
}

TEST(WebKitRecordReader, TruncatedAndLyingRecordsAreRejectedWithoutReadingPastTheEnd) {
  const std::string url = "https://site.test/a.css";
  const std::string file = fx::WebKitRecordFile(url, "body");
  for (std::size_t n = 0; n < file.size(); ++n) {
    RecordingBytes bytes(std::string_view(file).substr(0, n));
    EXPECT_FALSE(ReadWebKitRecord(bytes)) << n;  // an inline body must end the file exactly
    EXPECT_EQ(bytes.out_of_range, 0) << n;
  }
  EXPECT_TRUE(ReadWebKitRecord(SpanEntryBytes(file)));
  EXPECT_FALSE(ReadWebKitRecord(SpanEntryBytes(file + "x")));

  // A string length the file cannot back is never allocated or read.
  std::string huge = file;
  const std::size_t at = huge.find(url) - 5;
  huge[at] = huge[at + 1] = huge[at + 2] = '\xf0';
  RecordingBytes bytes(huge);
  EXPECT_FALSE(ReadWebKitRecord(bytes));
  EXPECT_LT(bytes.bytes_read, 64u);

  std::string bad_flag = file;
  bad_flag[at + 4] = 2;  // the 8-bit flag is a bool
  EXPECT_FALSE(ReadWebKitRecord(SpanEntryBytes(bad_flag)));
  std::string null_url = file;
  null_url.replace(at, 5 + url.size(), "\xff\xff\xff\xff");
  EXPECT_FALSE(ReadWebKitRecord(SpanEntryBytes(null_url)));
  std::string lone_surrogate = file;
  lone_surrogate.replace(at, 5 + url.size(), std::string("\x01\0\0\0\0\x00\xdc", 7));
  EXPECT_FALSE(ReadWebKitRecord(SpanEntryBytes(lone_surrogate)));
  EXPECT_FALSE(ReadWebKitRecord(SpanEntryBytes(fx::FirefoxEntryFile(fx::FirefoxKeyOf(url), "x"))));
}

// ---- The cache over fixture profiles ----------------------------------------------------

// The URLs of `keys` in the order of their entries' file names.
template <class Name, class Url>
std::vector<std::string> InFileNameOrder(const std::vector<std::string>& keys, Name name, Url url) {
  std::vector<std::pair<std::string, std::string>> by_name;
  for (const auto& k : keys) by_name.push_back({name(k), url(k)});
  std::sort(by_name.begin(), by_name.end());
  std::vector<std::string> urls;
  for (const auto& p : by_name) urls.push_back(p.second);
  return urls;
}

std::vector<std::string> Urls(const std::vector<UrlCacheEntry>& entries) {
  std::vector<std::string> urls;
  for (const auto& e : entries) urls.push_back(e.source_url);
  return urls;
}

class UrlCacheTest : public ::testing::Test {
 protected:
  Sandbox box;
};

TEST_F(UrlCacheTest, ChromiumListsEveryEntryOnceInFileNameOrder) {
  const std::string cache_dir = fx::MakeChromiumProfile(box);
  const std::vector<std::string> keys = {
      fx::ChromiumGetKey("https://site.test/"),
      fx::ChromiumPartitionedKey("https://site.test", "https://site.test", "https://cdn.test/lib.js"),
      fx::ChromiumPartitionedKey("https://other.test", "https://other.test", "https://cdn.test/lib.js"),
      fx::ChromiumPostKey(987654, "https://site.test/form"),
  };
  for (const auto& k : keys) fx::WriteChromiumEntry(cache_dir, k);
  fx::WriteChromiumSparse(cache_dir, keys[0]);

  const auto expected =
      InFileNameOrder(keys, ChromiumEntryHash, [](const std::string& k) { return *ChromiumKeyUrl(k); });

  UrlCache cache;
  const auto listing = cache.List();
  EXPECT_EQ(Urls(listing), expected);
  for (const auto& e : listing) EXPECT_EQ(e.entry_type, kNormalCacheEntry) << e.source_url;
  EXPECT_EQ(Urls(cache.List()), expected);  // stable
  EXPECT_EQ(cache.LastStats().cache_folders, 1u);
  EXPECT_EQ(cache.LastStats().skipped_files, 0u);
}

TEST_F(UrlCacheTest, ChromiumSkipsGarbledTruncatedForeignAndMisnamedFiles) {
  const std::string dir = fx::MakeChromiumProfile(box);
  fx::WriteChromiumEntry(dir, fx::ChromiumGetKey("https://good.test/"));
  // Right name, garbage inside.
  Sandbox::WriteFile(dir + "/" + ChromiumEntryHash("1/0/https://garbled.test/") + "_0",
                     std::string(200, '\x13'));
  // Right name, cut inside the key.
  const std::string cut_key = fx::ChromiumGetKey("https://truncated.test/page");
  Sandbox::WriteFile(dir + "/" + ChromiumEntryHash(cut_key) + "_0",
                     fx::ChromiumStreamFile(cut_key, "").substr(0, 30));
  // A valid entry under a name that is not its key's.
  Sandbox::WriteFile(dir + "/0123456789abcdef_0", fx::ChromiumStreamFile("1/0/https://misnamed.test/", "x"));
  // A key of no known form under its own name.
  Sandbox::WriteFile(dir + "/" + ChromiumEntryHash("1/0/a b") + "_0", fx::ChromiumStreamFile("1/0/a b", "x"));
  // Files that are not entries at all.
  Sandbox::WriteFile(dir + "/index", std::string(24, '\0'));
  Sandbox::WriteFile(dir + "/index-dir/the-real-index", std::string(64, '\1'));
  Sandbox::WriteFile(dir + "/0123456789ABCDEF_0", fx::ChromiumStreamFile("1/0/https://upper.test/", "x"));
  Sandbox::WriteFile(dir + "/" + ChromiumEntryHash("1/0/https://only-sparse.test/") + "_s",
                     fx::ChromiumSparseFile("1/0/https://only-sparse.test/", "x"));
  Sandbox::MakeDirs(dir + "/" + ChromiumEntryHash("1/0/https://dir.test/") + "_0");
  // An entry-named link is neither followed nor deleted.
  const std::string linked_key = fx::ChromiumGetKey("https://linked.test/");
  const std::string outside = box.Path("outside_0");
  Sandbox::WriteFile(outside, fx::ChromiumStreamFile(linked_key, "precious"));
  ASSERT_EQ(symlink(outside.c_str(), (dir + "/" + ChromiumEntryHash(linked_key) + "_0").c_str()), 0);

  UrlCache cache;
  EXPECT_THAT(Urls(cache.List()), ElementsAre("https://good.test/"));
  EXPECT_EQ(cache.LastStats().skipped_files, 4u);  // the entry-named files that failed
  EXPECT_FALSE(cache.Delete("https://linked.test/"));
  EXPECT_EQ(Sandbox::ReadFile(outside), fx::ChromiumStreamFile(linked_key, "precious"));
}

TEST_F(UrlCacheTest, DeletingAUrlRemovesEveryPartitionWithAllItsFiles) {
  const std::string dir = fx::MakeChromiumProfile(box);
  const std::string url = "https://cdn.test/lib.js";
  const std::string k1 = fx::ChromiumPartitionedKey("https://a.test", "https://a.test", url);
  const std::string k2 = fx::ChromiumPartitionedKey("https://b.test", "https://b.test", url);
  const std::string other = fx::ChromiumGetKey("https://cdn.test/lib.js?v=2");
  const std::string p1 = fx::WriteChromiumEntry(dir, k1);
  const std::string p2 = fx::WriteChromiumEntry(dir, k2);
  const std::string s1 = fx::WriteChromiumSparse(dir, k1);
  const std::string one = dir + "/" + ChromiumEntryHash(k2) + "_1";
  Sandbox::WriteFile(one, "stream 2");
  const std::string keep = fx::WriteChromiumEntry(dir, other);

  UrlCache cache;
  ASSERT_EQ(cache.List().size(), 3u);
  EXPECT_TRUE(cache.Delete(url));
  for (const auto& p : {p1, p2, s1, one}) EXPECT_FALSE(Sandbox::Exists(p)) << p;
  EXPECT_TRUE(Sandbox::Exists(keep));
  EXPECT_THAT(Urls(cache.List()), ElementsAre("https://cdn.test/lib.js?v=2"));
}

TEST_F(UrlCacheTest, DeletionsThatCannotHappenFailQuietly) {
  EXPECT_TRUE(UrlCache().List().empty()) << "an empty home has an empty cache";
  EXPECT_FALSE(UrlCache().Delete("https://site.test/"));
  const std::string dir = fx::MakeChromiumProfile(box);
  const std::string gone = fx::WriteChromiumEntry(dir, fx::ChromiumGetKey("https://gone.test/"));
  fx::WriteChromiumEntry(dir, fx::ChromiumGetKey("https://stays.test/"));
  UrlCache cache;
  ASSERT_EQ(cache.List().size(), 2u);
  ASSERT_EQ(unlink(gone.c_str()), 0);  // the browser removed it meanwhile
  EXPECT_FALSE(cache.Delete("https://gone.test/"));
  EXPECT_FALSE(cache.Delete("https://never-cached.test/"));
  EXPECT_FALSE(cache.Delete("https://STAYS.test/"));  // URLs compare exactly
  EXPECT_TRUE(cache.Delete("https://stays.test/"));
  EXPECT_FALSE(cache.Delete("https://stays.test/"));  // already done
  const std::string fresh = fx::WriteChromiumEntry(dir, fx::ChromiumGetKey("https://fresh.test/"));
  EXPECT_TRUE(UrlCache().Delete("https://fresh.test/")) << "deleting without a listing lists first";
  EXPECT_FALSE(Sandbox::Exists(fresh));
}

TEST_F(UrlCacheTest, ABatchDeletesEachUrlAcrossFoldersOnce) {
  const std::string cr = fx::MakeChromiumProfile(box);
  const std::string ff = fx::MakeFirefoxProfile(box);
  std::vector<std::string> gone, stays;
  std::string companion_of_1, entry_of_2;
  for (int i = 0; i < 300; ++i) {
    const std::string url = "https://site.test/" + std::to_string(i);
    auto& bucket = i % 3 == 0 ? stays : gone;
    bucket.push_back(fx::WriteChromiumEntry(cr, fx::ChromiumGetKey(url)));
    bucket.push_back(fx::WriteChromiumEntry(cr, fx::ChromiumPartitionedKey("https://a.test", "https://a.test", url)));
    bucket.push_back(fx::WriteFirefoxEntry(ff, fx::FirefoxKeyOf(url)));
    if (i % 10 == 1) bucket.push_back(fx::WriteChromiumSparse(cr, fx::ChromiumGetKey(url)));
    if (i == 1) companion_of_1 = bucket.back();
    if (i == 2) entry_of_2 = bucket[bucket.size() - 3];  // its Chromium GET entry
  }
  UrlCache cache;
  ASSERT_EQ(cache.List().size(), 900u);
  std::vector<std::string> urls;
  for (int i = 0; i < 300; ++i)
    if (i % 3 != 0) urls.push_back("https://site.test/" + std::to_string(i));
  const std::size_t wanted = urls.size();
  urls.push_back(urls.front());                   // listed twice: deleted once
  urls.push_back("https://never-cached.test/");   // unknown
  ASSERT_EQ(unlink(companion_of_1.c_str()), 0);   // a companion vanished: still complete
  ASSERT_EQ(unlink(entry_of_2.c_str()), 0);       // an entry vanished: that URL is not complete
  // Companions written after the listing: the deleted URL's goes too, the kept one's stays.
  gone.push_back(fx::WriteChromiumSparse(cr, fx::ChromiumGetKey("https://site.test/4")));
  stays.push_back(fx::WriteChromiumSparse(cr, fx::ChromiumGetKey("https://site.test/3")));
  EXPECT_EQ(cache.DeleteAll(urls), wanted - 1);
  for (const auto& f : gone) EXPECT_FALSE(Sandbox::Exists(f)) << f;
  for (const auto& f : stays) EXPECT_TRUE(Sandbox::Exists(f)) << f;
  EXPECT_EQ(cache.List().size(), 300u);
}

TEST_F(UrlCacheTest, FirefoxListsOnlyTheLiveEntriesFolder) {
  const std::string cache2 = fx::MakeFirefoxProfile(box);
  const std::string k1 = fx::FirefoxKeyOf("https://site.test/", "a,");
  const std::string k2 = fx::FirefoxKeyOf("https://cdn.test/x.js", "O^partitionKey=%28https%2Csite.test%29,a,");
  const std::string k3 = fx::FirefoxKeyOf("https://site.test/form", "a,~1712345678,");
  for (const auto& k : {k1, k2, k3}) fx::WriteFirefoxEntry(cache2, k);
  // Folders the browser is removing, its index files, a garbled file, a foreign name.
  const std::string doomed_key = fx::FirefoxKeyOf("https://doomed.test/");
  Sandbox::WriteFile(cache2 + "/doomed/" + FirefoxEntryHash(doomed_key), fx::FirefoxEntryFile(doomed_key, "x"));
  const std::string trash_key = fx::FirefoxKeyOf("https://trash.test/");
  Sandbox::WriteFile(cache2 + "/trash12345/" + FirefoxEntryHash(trash_key), fx::FirefoxEntryFile(trash_key, "x"));
  Sandbox::WriteFile(cache2 + "/index", std::string(40, '\0'));
  Sandbox::WriteFile(cache2 + "/index.log", "");
  Sandbox::WriteFile(cache2 + "/entries/" + FirefoxEntryHash("a,:https://garbled.test/"), std::string(300, '\xee'));
  Sandbox::WriteFile(cache2 + "/entries/README", fx::FirefoxEntryFile(fx::FirefoxKeyOf("https://readme.test/"), "x"));

  const auto expected =
      InFileNameOrder({k1, k2, k3}, FirefoxEntryHash, [](const std::string& k) { return ParseFirefoxKey(k)->url; });

  UrlCache cache;
  const auto listing = cache.List();
  EXPECT_EQ(Urls(listing), expected);
  for (const auto& e : listing) EXPECT_EQ(e.entry_type, kNormalCacheEntry);
  EXPECT_EQ(cache.LastStats().skipped_files, 1u);

  EXPECT_TRUE(cache.Delete("https://cdn.test/x.js"));
  EXPECT_FALSE(Sandbox::Exists(cache2 + "/entries/" + FirefoxEntryHash(k2)));
  EXPECT_TRUE(Sandbox::Exists(cache2 + "/entries/" + FirefoxEntryHash(k1)));
}

std::map<std::string, std::uint32_t> TypesByUrl(const std::vector<UrlCacheEntry>& entries) {
  std::map<std::string, std::uint32_t> types;
  for (const auto& e : entries) types[e.source_url] = e.entry_type;
  return types;
}

TEST_F(UrlCacheTest, EvictionMarkersAndNonHttpKeysMakeEntriesNotNormal) {
  const std::string cache2 = fx::MakeFirefoxProfile(box);
  const std::string old_entry = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://old.test/"));
  const std::string same_time = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://same.test/"));
  const std::string new_entry = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://new.test/"));
  const std::string marker = cache2 + "/ce_Kg==";  // base64 of "*": evict everything
  Sandbox::WriteFile(marker, "");
  fx::SetMtime(marker, 1700000000);
  fx::SetMtime(old_entry, 1699999000);
  fx::SetMtime(same_time, 1700000000);
  fx::SetMtime(new_entry, 1700000001);
  fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("predictor-origin:https://site.test/", ""));
  EXPECT_EQ(TypesByUrl(UrlCache().List()),
            (std::map<std::string, std::uint32_t>{{"https://old.test/", 0},
                                                  {"https://same.test/", 0},
                                                  {"https://new.test/", kNormalCacheEntry},
                                                  {"predictor-origin:https://site.test/", 0}}));
}

TEST_F(UrlCacheTest, AContextMarkerEvictsOnlyThatContext) {
  const std::string cache2 = fx::MakeFirefoxProfile(box);
  const std::string anon = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://x.test/anon", "a,"));
  const std::string anon_post = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://x.test/post", "a,~99,"));
  const std::string plain = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://x.test/plain", ""));
  const std::string other = fx::WriteFirefoxEntry(cache2, fx::FirefoxKeyOf("https://x.test/ctx", "O^userContextId=5,a,"));
  // "a,:foo" in base64 ('/' would be written as '-'): the anonymous default context.
  const std::string marker = cache2 + "/ce_YSw6Zm9v";
  Sandbox::WriteFile(marker, "");
  fx::SetMtime(marker, 1700000000);
  for (const auto& p : {anon, anon_post, plain, other}) fx::SetMtime(p, 1600000000);
  EXPECT_EQ(TypesByUrl(UrlCache().List()),
            (std::map<std::string, std::uint32_t>{{"https://x.test/anon", 0},
                                                  {"https://x.test/post", 0},  // a POST id is not part of the context
                                                  {"https://x.test/plain", kNormalCacheEntry},
                                                  {"https://x.test/ctx", kNormalCacheEntry}}));
}

TEST_F(UrlCacheTest, OrderIsBrowserThenProfileThenFileName) {
  const std::string ff = fx::MakeFirefoxProfile(box, "zzzz.default");
  const std::string ff2 = fx::MakeFirefoxProfile(box, "aaaa.default-esr");
  const std::string c_default = fx::MakeChromiumProfile(box, "chromium", "Default");
  const std::string c_p2 = fx::MakeChromiumProfile(box, "chromium", "Profile 2");
  const std::string c_p10 = fx::MakeChromiumProfile(box, "chromium", "Profile 10");
  const std::string chrome = fx::MakeChromiumProfile(box, "google-chrome", "Default");
  const std::string brave = fx::MakeChromiumProfile(box, "BraveSoftware/Brave-Browser", "Default");
  fx::WriteChromiumEntry(brave, fx::ChromiumGetKey("https://brave.test/"));
  fx::WriteChromiumEntry(chrome, fx::ChromiumGetKey("https://chrome.test/"));
  fx::WriteChromiumEntry(c_p10, fx::ChromiumGetKey("https://p10.test/"));
  fx::WriteChromiumEntry(c_p2, fx::ChromiumGetKey("https://p2.test/"));
  fx::WriteChromiumEntry(c_default, fx::ChromiumGetKey("https://default.test/"));
  fx::WriteFirefoxEntry(ff, fx::FirefoxKeyOf("https://zzzz.test/"));
  fx::WriteFirefoxEntry(ff2, fx::FirefoxKeyOf("https://aaaa.test/"));
  // Flatpak and snap installs of Chromium come after its own folders.
  const std::string flat = box.Path("home/.var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data");
  Sandbox::MakeDirs(box.Path("home/.var/app/org.chromium.Chromium/config/chromium/Default"));
  fx::WriteChromiumEntry(flat, fx::ChromiumGetKey("https://flatpak.test/"));
  const std::string snap = box.Path("home/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data");
  Sandbox::MakeDirs(box.Path("home/snap/chromium/common/chromium/Default"));
  fx::WriteChromiumEntry(snap, fx::ChromiumGetKey("https://snap.test/"));

  UrlCache cache;
  EXPECT_THAT(Urls(cache.List()),
              ElementsAre("https://aaaa.test/", "https://zzzz.test/", "https://default.test/",
                          "https://p2.test/", "https://p10.test/", "https://flatpak.test/",
                          "https://snap.test/", "https://chrome.test/", "https://brave.test/"));
}

TEST_F(UrlCacheTest, ExplicitProfilesAreTheOnlyOnesRead) {
  const std::string a = fx::MakeChromiumProfile(box, "chromium", "Default");
  const std::string b = fx::MakeChromiumProfile(box, "chromium", "Profile 1");
  fx::WriteChromiumEntry(a, fx::ChromiumGetKey("https://a.test/"));
  fx::WriteChromiumEntry(b, fx::ChromiumGetKey("https://b.test/"));
  BrowserProfile only;
  only.browser = "chromium";
  only.family = BrowserFamily::Chromium;
  only.profile_name = "Profile 1";
  only.cache_dir = b;
  UrlCache cache({only, only});  // the same folder twice is read once
  EXPECT_THAT(Urls(cache.List()), ElementsAre("https://b.test/"));
}

TEST_F(UrlCacheTest, WebKitListsItsResponsesAndDeletesEachWithItsBody) {
  const std::string cache = fx::MakeEpiphanyProfile(box);
  fx::WebKitRecordOptions partitioned;
  partitioned.partition = "top.test";
  fx::WebKitRecordOptions blob;
  blob.body_in_blob = true;
  const std::string big(9000, 'z');  // two records share one stored body
  const std::string a = fx::WriteWebKitRecord(cache, "https://a.test/", "a");
  const std::string a2 = fx::WriteWebKitRecord(cache, "https://a.test/", "a", partitioned);
  const std::string b = fx::WriteWebKitRecord(cache, "https://b.test/big.png", big, blob);
  const std::string c = fx::WriteWebKitRecord(cache, "https://c.test/big.png", big, blob);
  const std::string ftp = fx::WriteWebKitRecord(cache, "ftp://files.test/x", "f");
  fx::WebKitRecordOptions sub;
  sub.type = "SubResources";
  const std::string notes = fx::WriteWebKitRecord(cache, "https://a.test/", "list", sub);
  const std::string version = fx::WebKitVersionDir(cache);
  const std::string blob_file = version + "/Blobs/" + fx::UpperHexOf(fx::Sha1Bytes(std::string(fx::kWebKitSalt) + big));
  const std::string stray_blob = version + "/Blobs/" + std::string(40, 'A');
  Sandbox::WriteFile(stray_blob, "left for the browser");
  // Skipped: garbage, a record under another record's name, one of a version that is not
  // its folder's, and a whole version whose salt does not hash its keys.
  const std::string folder = a.substr(0, a.rfind('/'));
  Sandbox::WriteFile(folder + "/" + std::string(40, 'B'), "not a record");
  Sandbox::WriteFile(folder + "/" + std::string(40, 'C'), Sandbox::ReadFile(b));
  fx::WebKitRecordOptions v16;
  v16.version = 16;
  Sandbox::WriteFile(folder + "/" + fx::UpperHexOf(fx::WebKitKeyHash("https://v16.test/")),
                     fx::WebKitRecordFile("https://v16.test/", "x", v16));
  fx::WriteWebKitRecord(cache, "https://v16.test/", "x", v16);
  Sandbox::WriteFile(cache + "/Version 16/salt", "saltsalt");

  UrlCache listing;
  EXPECT_EQ(TypesByUrl(listing.List()),
            (std::map<std::string, std::uint32_t>{{"https://a.test/", kNormalCacheEntry},
                                                  {"https://b.test/big.png", kNormalCacheEntry},
                                                  {"https://c.test/big.png", kNormalCacheEntry},
                                                  {"ftp://files.test/x", 0}}));
  EXPECT_EQ(listing.LastStats().entries, 5u);
  EXPECT_EQ(listing.LastStats().skipped_files, 4u);

  EXPECT_TRUE(listing.Delete("https://a.test/"));  // both partitions
  EXPECT_FALSE(Sandbox::Exists(a));
  EXPECT_FALSE(Sandbox::Exists(a2));
  EXPECT_TRUE(Sandbox::Exists(notes));
  EXPECT_EQ(listing.DeleteAll({"https://b.test/big.png"}), 1u);
  EXPECT_FALSE(Sandbox::Exists(b));
  EXPECT_FALSE(Sandbox::Exists(b + "-blob"));
  EXPECT_TRUE(Sandbox::Exists(blob_file)) << "still the body of another record";
  EXPECT_EQ(listing.DeleteAll({"https://c.test/big.png"}), 1u);
  EXPECT_FALSE(Sandbox::Exists(c + "-blob"));
  EXPECT_FALSE(Sandbox::Exists(blob_file));
  EXPECT_TRUE(Sandbox::Exists(stray_blob));
  EXPECT_TRUE(Sandbox::Exists(ftp));
  EXPECT_TRUE(Sandbox::Exists(version + "/salt"));
}

}  // namespace
}  // namespace tidrex::platform
