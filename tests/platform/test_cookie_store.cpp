// The cookie folder over fixture cookie stores of both browser families, written with
// SQLite the way the browsers write them.
#include "platform/cookie_folder.h"
#include "platform/cookie_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/internet_cache.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/cache_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using tidrex::testing::LockHolder;
using tidrex::testing::Sandbox;

// Column sets as the browsers create them.
constexpr const char* kChromiumSchema =
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
    "INSERT INTO meta VALUES('version','24'),('last_compatible_version','24');"
    "CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL,"
    " top_frame_site_key TEXT NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL,"
    " encrypted_value BLOB NOT NULL, path TEXT NOT NULL, expires_utc INTEGER NOT NULL,"
    " is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL,"
    " last_access_utc INTEGER NOT NULL, has_expires INTEGER NOT NULL,"
    " is_persistent INTEGER NOT NULL, priority INTEGER NOT NULL, samesite INTEGER NOT NULL,"
    " source_scheme INTEGER NOT NULL, source_port INTEGER NOT NULL,"
    " last_update_utc INTEGER NOT NULL, source_type INTEGER NOT NULL,"
    " has_cross_site_ancestor INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key,"
    " has_cross_site_ancestor, name, path, source_scheme, source_port);";

constexpr const char* kFirefoxSchema =
    "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '',"
    " name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER,"
    " creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER,"
    " inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0,"
    " schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0,"
    " updateTime INTEGER, CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes));"
    "PRAGMA user_version = 17;";

struct Row {
  std::string host;
  std::string name;
  std::string partition;  // Chromium top_frame_site_key / Firefox originAttributes
};

class Connection {
 public:
  explicit Connection(const std::string& path, int flags = SQLITE_OPEN_READWRITE |
                                                            SQLITE_OPEN_CREATE) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot open " + path);
    }
  }
  ~Connection() { sqlite3_close_v2(db_); }
  // Runs `sql`; gives the first column of every row it returns.
  std::vector<std::string> Exec(const std::string& sql) {
    std::vector<std::string> rows;
    char* err = nullptr;
    auto collect = [](void* out, int, char** values, char**) {
      static_cast<std::vector<std::string>*>(out)->emplace_back(values[0] ? values[0] : "");
      return 0;
    };
    if (sqlite3_exec(db_, sql.c_str(), collect, &rows, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(sql + ": " + msg);
    }
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

void InsertChromiumRows(const std::string& path, const std::vector<Row>& rows) {
  Connection db(path);
  for (const Row& r : rows)
    db.Exec("INSERT INTO cookies VALUES(13370000000000000, '" + r.host + "', '" + r.partition + "', '" + r.name +
            "', '', x'763130', '/', 13400000000000000, 1, 0, 13370000000000000, 1, 1, 1, 0, 2, 443,"
            " 13370000000000000, 0, 0)");
}

void WriteChromiumStore(const std::string& path, const std::vector<Row>& rows) {
  Sandbox::MakeDirs(path.substr(0, path.rfind('/')));
  Connection(path).Exec(kChromiumSchema);
  InsertChromiumRows(path, rows);
}

void WriteFirefoxStore(const std::string& path, const std::vector<Row>& rows) {
  Sandbox::MakeDirs(path.substr(0, path.rfind('/')));
  Connection db(path);
  db.Exec("PRAGMA journal_mode=WAL");
  db.Exec(kFirefoxSchema);
  for (const Row& r : rows)
    db.Exec("INSERT INTO moz_cookies(originAttributes, name, value, host, path, expiry, lastAccessed,"
            " creationTime, isSecure, isHttpOnly) VALUES('" + r.partition + "', '" + r.name + "', 'v', '" + r.host +
            "', '/', 1900000000000, 1700000000000000, 1700000000000000, 0, 0)");
}

// libsoup's store, as GNOME Web writes it (rollback journal).
void WriteWebKitStore(const std::string& path, const std::vector<Row>& rows) {
  Sandbox::MakeDirs(path.substr(0, path.rfind('/')));
  Connection db(path);
  db.Exec("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, name TEXT, value TEXT, host TEXT, path TEXT,"
          " expiry INTEGER, lastAccessed INTEGER, isSecure INTEGER, isHttpOnly INTEGER, sameSite INTEGER)");
  for (const Row& r : rows)
    db.Exec("INSERT INTO moz_cookies(name, value, host, path, expiry, lastAccessed, isSecure, isHttpOnly, sameSite)"
            " VALUES('" + r.name + "', 'v', '" + r.host + "', '/', 1900000000, 1700000000, 0, 0, 0)");
}

// "host name" of every row, sorted, read through SQLite so a WAL is merged.
std::vector<std::string> RowsOf(const std::string& path, BrowserFamily family) {
  Connection db(path, SQLITE_OPEN_READONLY);
  std::vector<std::string> rows =
      family != BrowserFamily::Chromium
          ? db.Exec("SELECT host || ' ' || name FROM moz_cookies")
          : db.Exec("SELECT host_key || ' ' || name FROM cookies");
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool HasSideFiles(const std::string& path) {
  return Sandbox::Exists(path + "-wal") || Sandbox::Exists(path + "-shm") ||
         Sandbox::Exists(path + "-journal");
}

// ---------------------------------------------------------------------------------------

TEST(CookieSiteOfHost, FoldsHostsToTheirSiteOrThemselves) {
  const std::pair<const char*, const char*> cases[] = {
      {".site-a.test", "site-a.test"}, {"a.b.c.site-a.test", "site-a.test"},
      {".WWW.Example.COM", "example.com"}, {"shop.example.co.uk", "example.co.uk"},
      {"a.b.github.io", "b.github.io"},  // private suffixes of the list count as suffixes
      // Hosts without a registrable domain stand for themselves.
      {".localhost", "localhost"}, {"192.168.10.20", "192.168.10.20"}, {"::1", "[::1]"},
      {"[0:0:0:0:0:0:0:1]", "[::1]"}, {"[2001:DB8::1]", "[2001:db8::1]"}, {"co.uk", "co.uk"},
      {"intranet", "intranet"},
      // Hosts that cannot name an entry give nothing.
      {"", ""}, {".", ""}, {"..", ""}, {"a/b.test", ""}, {"a\nb.test", ""}};
  for (const auto& [host, site] : cases) EXPECT_EQ(CookieSiteOfHost(host), site) << host;
}

TEST(CookieFolderPath, IsNoFolderOnDiskAndRecognisesItsEntries) {
  Sandbox sandbox;
  const std::string folder = CookieFolderPath();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_NE(folder.front(), '/') << "an absolute path could name a real folder";
  EXPECT_FALSE(AnyEntryMatches(folder));
  EXPECT_TRUE(IsCookieFolderPath(folder));
  EXPECT_TRUE(IsCookieFolderPath(folder + "/"));
  EXPECT_TRUE(IsCookieFolderPath(folder + "/site-a.test"));
  EXPECT_FALSE(IsCookieFolderPath(folder + "x/site-a.test"));
  EXPECT_FALSE(IsCookieFolderPath(sandbox.Home() + "/site-a.test"));
  EXPECT_FALSE(IsCookieFolderPath(""));
}

// ---------------------------------------------------------------------------------------

class CookieStoreTest : public ::testing::Test {
 protected:
  std::string ChromiumPath(const std::string& profile = "Default") {
    return sandbox_.Path("home/.config/chromium/" + profile + "/Cookies");
  }
  std::string FirefoxPath(const std::string& profile = "abcd.default-esr") {
    return sandbox_.Path("home/.mozilla/firefox/" + profile + "/cookies.sqlite");
  }

  // Both families, with hosts that fold, partitioned rows and a LIKE-wildcard lookalike.
  std::vector<CookieStore> WriteBothFamilies() {
    WriteChromiumStore(ChromiumPath(), {{".site-a.test", "a1", ""}, {"www.site-a.test", "a2", ""},
                                        {"shop.site-b.co.uk", "b1", ""}, {"a_c.test", "x1", ""}, {"axc.test", "x2", ""},
                                        {"127.0.0.1", "ip", ""}, {"keep.test", "k1", "https://site-a.test"}});
    WriteFirefoxStore(FirefoxPath(), {{".site-a.test", "a3", ""},
                                      {"deep.sub.site-a.test", "a4", "^partitionKey=%28https%2Csite-b.co.uk%29"},
                                      {".site-a.test", "a3", "^userContextId=2"}, {"localhost", "lh", ""},
                                      {"::1", "v6", ""}, {"other.test", "o1", "^partitionKey=%28https%2Csite-a.test%29"}});
    return {{ChromiumPath(), BrowserFamily::Chromium, false},
            {FirefoxPath(), BrowserFamily::Firefox, false}};
  }

  Sandbox sandbox_;
};

TEST_F(CookieStoreTest, ListingLeavesNoSideFilesAndSeesRowsStillInTheWal) {
  auto stores = WriteBothFamilies();
  const std::string before = Sandbox::ReadFile(FirefoxPath());
  ASSERT_EQ(ListCookieSites(stores).stores_read, 2u);
  EXPECT_FALSE(HasSideFiles(FirefoxPath()));
  EXPECT_FALSE(HasSideFiles(ChromiumPath()));
  EXPECT_EQ(Sandbox::ReadFile(FirefoxPath()), before);

  Connection writer(FirefoxPath());
  writer.Exec("PRAGMA wal_autocheckpoint=0");
  writer.Exec(
      "INSERT INTO moz_cookies(originAttributes, name, host) VALUES('', 'n', '.fresh.test')");
  ASSERT_TRUE(Sandbox::Exists(FirefoxPath() + "-wal"));
  EXPECT_THAT(ListCookieSites(stores).sites, ::testing::Contains("fresh.test"));
}

TEST_F(CookieStoreTest, DeletingThreeSitesRemovesExactlyTheirCookies) {
  auto stores = WriteBothFamilies();
  const std::string chromium = Sandbox::ReadFile(ChromiumPath());
  CookieDeletion none = DeleteCookieSites(stores, {"absent.test", "www.site-a.test"});
  EXPECT_EQ(none.rows_deleted, 0u);
  EXPECT_EQ(none.stores_changed, 0u);
  EXPECT_EQ(Sandbox::ReadFile(ChromiumPath()), chromium) << "a site no store holds writes nothing";

  CookieDeletion result = DeleteCookieSites(stores, {"site-a.test", "a_c.test", "[::1]"});
  // site-a.test: two Chromium rows, three Firefox rows (partitioned ones included).
  EXPECT_EQ(result.rows_deleted, 2u + 1u + 3u + 1u);
  EXPECT_EQ(result.stores_changed, 2u);
  EXPECT_EQ(result.stores_left, 0u);
  EXPECT_EQ(result.stores_skipped, 0u);

  EXPECT_THAT(RowsOf(ChromiumPath(), BrowserFamily::Chromium),
              ElementsAre("127.0.0.1 ip", "axc.test x2", "keep.test k1", "shop.site-b.co.uk b1"));
  EXPECT_THAT(RowsOf(FirefoxPath(), BrowserFamily::Firefox),
              ElementsAre("localhost lh", "other.test o1"));
  EXPECT_THAT(ListCookieSites(stores).sites,
              ElementsAre("127.0.0.1", "axc.test", "keep.test", "localhost", "other.test",
                          "site-b.co.uk"));
}

TEST_F(CookieStoreTest, AStoreLockedByAnotherConnectionIsLeftAndStillListed) {
  auto stores = WriteBothFamilies();
  // Firefox holds its store the way this connection does: exclusive locking mode in WAL.
  Connection firefox(FirefoxPath());
  firefox.Exec("PRAGMA locking_mode=EXCLUSIVE");
  firefox.Exec(
      "INSERT INTO moz_cookies(originAttributes, name, host) VALUES('', 'w', '.wal-only.test')");
  // Any other program in the middle of a write on a rollback-journal store.
  Connection chromium(ChromiumPath());
  chromium.Exec("BEGIN EXCLUSIVE");

  const std::string ff_main = Sandbox::ReadFile(FirefoxPath());
  const std::string ff_wal = Sandbox::ReadFile(FirefoxPath() + "-wal");
  const std::string cr_main = Sandbox::ReadFile(ChromiumPath());

  CookieListing listing = ListCookieSites(stores);
  EXPECT_EQ(listing.stores_read, 2u);
  EXPECT_THAT(listing.sites, ::testing::IsSupersetOf({"site-a.test", "localhost", "[::1]",
                                                      "site-b.co.uk", "wal-only.test"}));

  CookieDeletion result = DeleteCookieSites(stores, {"site-a.test", "localhost", "site-b.co.uk"});
  EXPECT_EQ(result.rows_deleted, 0u);
  EXPECT_EQ(result.stores_left, 2u);
  EXPECT_EQ(Sandbox::ReadFile(FirefoxPath()), ff_main);
  EXPECT_EQ(Sandbox::ReadFile(FirefoxPath() + "-wal"), ff_wal);
  EXPECT_EQ(Sandbox::ReadFile(ChromiumPath()), cr_main);
  EXPECT_EQ(ListCookieSites(stores).sites, listing.sites);
}

TEST_F(CookieStoreTest, CorruptAndUnknownStoresAreSkippedUnchanged) {
  auto stores = WriteBothFamilies();
  const std::string garbage = sandbox_.Path("home/.config/chromium/Profile 1/Cookies");
  std::string bytes;
  for (int i = 0; i < 8192; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
  Sandbox::WriteFile(garbage, bytes);
  // A store that begins like SQLite but whose pages are garbage.
  const std::string torn = sandbox_.Path("home/.config/chromium/Profile 2/Cookies");
  WriteChromiumStore(torn, {{".torn.test", "t", ""}});
  std::string torn_bytes = Sandbox::ReadFile(torn);
  for (std::size_t i = 100; i < torn_bytes.size(); ++i) torn_bytes[i] = static_cast<char>(0xa5);
  Sandbox::WriteFile(torn, torn_bytes);
  // Valid SQLite, but not a cookie store this program knows.
  const std::string unknown = sandbox_.Path("home/.mozilla/firefox/efgh.default/cookies.sqlite");
  Sandbox::MakeDirs(sandbox_.Path("home/.mozilla/firefox/efgh.default"));
  {
    Connection db(unknown);
    db.Exec("CREATE TABLE moz_cookies(id INTEGER PRIMARY KEY, hostname TEXT, name TEXT)");
    db.Exec("INSERT INTO moz_cookies(hostname, name) VALUES('.site-a.test', 'z')");
  }
  const std::string unknown_bytes = Sandbox::ReadFile(unknown);
  stores.push_back({garbage, BrowserFamily::Chromium, false});
  stores.push_back({torn, BrowserFamily::Chromium, false});
  stores.push_back({unknown, BrowserFamily::Firefox, false});
  stores.push_back({sandbox_.Path("missing/Cookies"), BrowserFamily::Chromium, false});

  CookieListing listing = ListCookieSites(stores);
  EXPECT_EQ(listing.stores_read, 2u);
  EXPECT_EQ(listing.stores_skipped, 4u);
  EXPECT_THAT(listing.sites, ::testing::Not(::testing::Contains("torn.test")));

  CookieDeletion result = DeleteCookieSites(stores, {"site-a.test"});
  EXPECT_EQ(result.stores_changed, 2u);
  EXPECT_EQ(result.stores_skipped, 4u);
  EXPECT_EQ(Sandbox::ReadFile(garbage), bytes);
  EXPECT_EQ(Sandbox::ReadFile(torn), torn_bytes);
  EXPECT_EQ(Sandbox::ReadFile(unknown), unknown_bytes);
  for (const std::string& p : {garbage, torn, unknown}) EXPECT_FALSE(HasSideFiles(p)) << p;
  EXPECT_FALSE(Sandbox::Exists(sandbox_.Path("missing/Cookies")));
}

// ---------------------------------------------------------------------------------------
// The cookie folder over the profiles that the browser lookup finds in the sandbox.

class CookieFolderTest : public CookieStoreTest {
 protected:
  void SetUp() override {
    Sandbox::WriteFile(sandbox_.Path("home/.config/chromium/Local State"),
                       R"({"profile":{"info_cache":{"Default":{"name":"Person 1"}}}})");
    Sandbox::WriteFile(sandbox_.Path("home/.mozilla/firefox/profiles.ini"),
                       "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abcd.default-esr\n"
                       "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n");
    WriteBothFamilies();
    // Chromium's network service store, beside the older place.
    WriteChromiumStore(sandbox_.Path("home/.config/chromium/Default/Network/Cookies"),
                       {{".net.test", "n1", ""}, {"www.site-b.co.uk", "b2", ""}});
  }
  std::string Entry(const std::string& name) { return CookieFolderPath() + "/" + name; }
};

TEST_F(CookieFolderTest, ListsTheSitesOfEveryProfileStore) {
  ASSERT_EQ(FindCookieStores().size(), 3u);
  EXPECT_THAT(ListCookieFolder(),
              ElementsAre("127.0.0.1", "[::1]", "a_c.test", "axc.test", "keep.test",
                          "localhost", "net.test", "other.test", "site-a.test",
                          "site-b.co.uk"));
}

TEST_F(CookieFolderTest, DeletingEntriesByPathDeletesTheirSites) {
  EXPECT_EQ(DeletePath(Entry("site-a.test")), 0u);
  EXPECT_EQ(DeletePath(Entry("site-b.co.uk")), 0u);
  EXPECT_TRUE(DeleteCookieFolderEntry("localhost"));
  EXPECT_EQ(DeletePath(Entry("never-listed.test")), 0u);
  EXPECT_THAT(ListCookieFolder(), ElementsAre("127.0.0.1", "[::1]", "a_c.test", "axc.test",
                                              "keep.test", "net.test", "other.test"));
  EXPECT_THAT(RowsOf(sandbox_.Path("home/.config/chromium/Default/Network/Cookies"),
                     BrowserFamily::Chromium),
              ElementsAre(".net.test n1"));
}

TEST_F(CookieFolderTest, NamesAreNeverPatternsAndTheFolderStays) {
  // Sites whose names hold the wildcard characters: deleting one deletes its rows only.
  const std::string network = sandbox_.Path("home/.config/chromium/Default/Network/Cookies");
  InsertChromiumRows(network, {{"*", "star", ""}, {"?", "mark", ""}, {"*.*", "both", ""}});
  std::vector<std::string> all = ListCookieFolder();
  ASSERT_THAT(all, ::testing::IsSupersetOf({"*", "?", "*.*", "site-b.co.uk", "a_c.test", "axc.test"}));
  for (const char* name : {"*", "?", "*.*"}) {
    EXPECT_EQ(DeletePath(Entry(name)), 0u) << name;
    std::erase(all, std::string(name));
    EXPECT_EQ(ListCookieFolder(), all) << name;
  }
  // Patterns that name no site delete nothing.
  EXPECT_EQ(DeletePath(Entry("*.co.uk")), 0u);
  EXPECT_EQ(DeletePath(Entry("a?c.test")), 0u);
  EXPECT_EQ(ListCookieFolder(), all);
  EXPECT_THAT(RowsOf(network, BrowserFamily::Chromium), ElementsAre(".net.test n1", "www.site-b.co.uk b2"));
  EXPECT_EQ(DeleteCookieFolderPath(CookieFolderPath()), 1u);
  EXPECT_EQ(DeletePath(CookieFolderPath() + "/"), 1u);
  EXPECT_EQ(ListCookieFolder(), all);
}

TEST_F(CookieFolderTest, RunningBrowsersKeepTheirStoresAndEntries) {
  // Chromium: SingletonLock names this host and a live process.
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  LockHolder chromium_process(sandbox_.Path("chromium-dummy-lock"));
  ASSERT_EQ(::symlink((std::string(host) + "-" + std::to_string(chromium_process.pid())).c_str(),
                      sandbox_.Path("home/.config/chromium/SingletonLock").c_str()),
            0);
  // Firefox: another process holds the write lock on .parentlock.
  LockHolder firefox(sandbox_.Path("home/.mozilla/firefox/abcd.default-esr/.parentlock"));

  std::vector<CookieStore> stores = FindCookieStores();
  ASSERT_EQ(stores.size(), 3u);
  for (const CookieStore& s : stores) EXPECT_TRUE(s.browser_running) << s.path;
  const std::string chromium = Sandbox::ReadFile(ChromiumPath());
  const std::string ff = Sandbox::ReadFile(FirefoxPath());
  EXPECT_EQ(DeletePath(Entry("site-a.test")), 1u);
  EXPECT_FALSE(DeleteCookieFolderEntry("site-b.co.uk"));
  EXPECT_FALSE(DeleteCookieFolderEntry("localhost"));
  EXPECT_EQ(Sandbox::ReadFile(ChromiumPath()), chromium);
  EXPECT_EQ(Sandbox::ReadFile(FirefoxPath()), ff);
  EXPECT_THAT(ListCookieFolder(),
              ::testing::IsSupersetOf({"site-a.test", "site-b.co.uk", "localhost"}));
}

// ---- Every browser of the table at its standard paths --------------------------------------

struct BrowserRow {
  const char* browser;
  BrowserFamily family;
  const char* cookies;  // below the home folder
  const char* cache;    // below the home folder: the profile's cache folder
};

// Firefox-family profiles are registered in a profiles.ini beside their folder.
const BrowserRow kBrowserRows[] = {
    {"firefox", BrowserFamily::Firefox, ".var/app/org.mozilla.firefox/.mozilla/firefox/f.default/cookies.sqlite",
     ".var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2"},
    {"firefox", BrowserFamily::Firefox, "snap/firefox/common/.mozilla/firefox/s.default/cookies.sqlite",
     "snap/firefox/common/.cache/mozilla/firefox/s.default/cache2"},
    {"librewolf", BrowserFamily::Firefox, ".librewolf/l.default/cookies.sqlite", ".cache/librewolf/l.default/cache2"},
    {"librewolf", BrowserFamily::Firefox, ".config/librewolf/librewolf/x.default/cookies.sqlite",
     ".cache/librewolf/x.default/cache2"},
    {"librewolf", BrowserFamily::Firefox, ".var/app/io.gitlab.librewolf-community/.librewolf/l.default/cookies.sqlite",
     ".var/app/io.gitlab.librewolf-community/cache/librewolf/l.default/cache2"},
    {"waterfox", BrowserFamily::Firefox, ".waterfox/w.default/cookies.sqlite", ".cache/waterfox/w.default/cache2"},
    {"floorp", BrowserFamily::Firefox, ".floorp/f.default/cookies.sqlite", ".cache/floorp/f.default/cache2"},
    {"zen", BrowserFamily::Firefox, ".zen/z.Default (release)/cookies.sqlite", ".cache/zen/z.Default (release)/cache2"},
    {"chromium", BrowserFamily::Chromium, ".var/app/org.chromium.Chromium/config/chromium/Default/Cookies",
     ".var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data"},
    {"google-chrome-beta", BrowserFamily::Chromium, ".config/google-chrome-beta/Default/Cookies",
     ".cache/google-chrome-beta/Default/Cache/Cache_Data"},
    {"google-chrome-unstable", BrowserFamily::Chromium, ".config/google-chrome-unstable/Profile 1/Cookies",
     ".cache/google-chrome-unstable/Profile 1/Cache/Cache_Data"},
    {"microsoft-edge-beta", BrowserFamily::Chromium, ".config/microsoft-edge-beta/Default/Cookies",
     ".cache/microsoft-edge-beta/Default/Cache/Cache_Data"},
    {"microsoft-edge-dev", BrowserFamily::Chromium, ".config/microsoft-edge-dev/Default/Network/Cookies",
     ".cache/microsoft-edge-dev/Default/Cache/Cache_Data"},
    {"opera", BrowserFamily::Chromium, ".config/opera/Cookies", ".cache/opera/Cache/Cache_Data"},
    {"opera-beta", BrowserFamily::Chromium, ".config/opera-beta/Cookies", ".cache/opera-beta/Cache/Cache_Data"},
    {"opera-developer", BrowserFamily::Chromium, ".config/opera-developer/Cookies",
     ".cache/opera-developer/Cache/Cache_Data"},
    {"falkon", BrowserFamily::Chromium, ".config/falkon/profiles/default/Cookies", ".cache/falkon/default/Cache"},
    {"qutebrowser", BrowserFamily::Chromium, ".local/share/qutebrowser/webengine/Cookies",
     ".cache/qutebrowser/webengine/Cache"},
    {"konqueror", BrowserFamily::Chromium, ".local/share/konqueror/QtWebEngine/Default/Cookies",
     ".cache/konqueror/QtWebEngine/Default/Cache"},
    {"epiphany", BrowserFamily::WebKit, ".local/share/epiphany/cookies.sqlite", ".cache/epiphany/WebKitCache"},
    {"epiphany", BrowserFamily::WebKit, ".var/app/org.gnome.Epiphany/data/epiphany/cookies.sqlite",
     ".var/app/org.gnome.Epiphany/cache/epiphany/WebKitCache"},
};

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

TEST(BrowserTable, EachBrowsersStoreAndCacheAreListedAndCleanedAtItsStandardPaths) {
  namespace fx = tidrex::testing;
  const std::vector<std::string> urls = {"http://site-a.test/a.css", "https://www.site-b.test/b.js"};
  for (const BrowserRow& row : kBrowserRows) {
    SCOPED_TRACE(std::string(row.browser) + " " + row.cookies);
    Sandbox box;
    const std::string cookies = box.Path(std::string("home/") + row.cookies);
    const std::string cache = box.Path(std::string("home/") + row.cache);
    const std::vector<Row> rows = {{".site-a.test", "a", ""}, {"www.site-b.test", "b", ""}};
    std::vector<std::string> entry_files;
    if (row.family == BrowserFamily::Firefox) {
      const std::string profile = Parent(cookies);
      Sandbox::WriteFile(Parent(profile) + "/profiles.ini",
                         "[Profile0]\nIsRelative=1\nPath=" + profile.substr(profile.rfind('/') + 1) + "\n");
      WriteFirefoxStore(cookies, rows);
      for (const std::string& u : urls) entry_files.push_back(fx::WriteFirefoxEntry(cache, fx::FirefoxKeyOf(u)));
    } else if (row.family == BrowserFamily::Chromium) {
      WriteChromiumStore(cookies, rows);
      for (const std::string& u : urls) entry_files.push_back(fx::WriteChromiumEntry(cache, fx::ChromiumGetKey(u)));
    } else {
      WriteWebKitStore(cookies, rows);
      for (const std::string& u : urls) entry_files.push_back(fx::WriteWebKitRecord(cache, u));
    }

    const std::vector<BrowserProfile> profiles = FindBrowserProfiles();
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].browser, row.browser);
    EXPECT_EQ(profiles[0].family, row.family);
    EXPECT_EQ(profiles[0].cache_dir, cache);
    EXPECT_FALSE(IsBrowserRunning(profiles[0]));

    UrlCache url_cache(profiles);
    std::vector<std::string> listed;
    for (const UrlCacheEntry& e : url_cache.List()) listed.push_back(e.source_url);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, urls);
    EXPECT_TRUE(url_cache.Delete(urls[0]));
    EXPECT_FALSE(Sandbox::Exists(entry_files[0]));
    EXPECT_TRUE(Sandbox::Exists(entry_files[1]));

    const std::vector<CookieStore> stores = FindCookieStores();
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(stores[0].path, cookies);
    EXPECT_THAT(ListCookieSites(stores).sites, ElementsAre("site-a.test", "site-b.test"));
    EXPECT_EQ(DeleteCookieSites(stores, {"site-a.test"}).rows_deleted, 1u);
    EXPECT_THAT(RowsOf(cookies, row.family), ElementsAre("www.site-b.test b"));
  }
}

TEST(BrowserTable, ABrowserWithoutALockRunsWhileAProcessHoldsAFileOfItsProfile) {
  Sandbox box;
  WriteWebKitStore(box.Path("home/.local/share/epiphany/cookies.sqlite"), {{"site-a.test", "a", ""}});
  WriteChromiumStore(box.Path("home/.local/share/qutebrowser/webengine/Cookies"), {{"site-a.test", "q", ""}});
  // A neighbour's open file is not the browser's.
  LockHolder elsewhere(box.Path("home/.local/share/epiphany-other"));
  for (const CookieStore& s : FindCookieStores()) EXPECT_FALSE(s.browser_running) << s.path;

  LockHolder epiphany(box.Path("home/.local/share/epiphany/ephy-history.db"));
  std::vector<CookieStore> stores = FindCookieStores();
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_TRUE(stores[1].browser_running) << stores[1].path;   // epiphany comes last in the table
  EXPECT_FALSE(stores[0].browser_running) << stores[0].path;  // qutebrowser
  EXPECT_EQ(DeleteCookieSites(stores, {"site-a.test"}).stores_left, 1u);
  EXPECT_THAT(RowsOf(stores[1].path, BrowserFamily::WebKit), ElementsAre("site-a.test a"));
  epiphany.Release();
  EXPECT_FALSE(FindCookieStores()[1].browser_running);
}

}  // namespace
}  // namespace tidrex::platform
