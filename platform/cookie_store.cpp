#include "platform/cookie_store.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpsl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_set>


namespace tidrex::platform {
namespace {

const psl_ctx_t* Psl() {
  static const psl_ctx_t* const ctx = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest ? latest : psl_builtin();
  }();
  return ctx;
}

std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

struct CookieTable {
  const char* name;
  const char* host_column;
};

CookieTable TableOf(BrowserFamily family) {
  // libsoup's store, which WebKit browsers use, keeps Firefox's moz_cookies schema.
  return family == BrowserFamily::Chromium ? CookieTable{"cookies", "host_key"}
                                           : CookieTable{"moz_cookies", "host"};
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The store's 100-byte SQLite header, or false when the file is not an SQLite database.
// Byte 18 is 2 for a database in WAL mode.
bool ReadHeader(const std::string& path, unsigned char (&header)[100]) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  ssize_t got = ::read(fd, header, sizeof header);
  ::close(fd);
  return got == static_cast<ssize_t>(sizeof header) &&
         std::memcmp(header, "SQLite format 3", 16) == 0;
}

std::string FileUri(const std::string& path, const char* query) {
  static const char* hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  uri += '?';
  uri += query;
  return uri;
}

class Db {
 public:
  Db() = default;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  ~Db() {
    if (db_) sqlite3_close_v2(db_);
  }
  // Never creates a file: SQLITE_OPEN_CREATE is not passed.
  bool Open(const std::string& uri, int flags) {
    int rc = sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI | SQLITE_OPEN_EXRESCODE,
                             nullptr);
    if (rc != SQLITE_OK) return false;
    sqlite3_busy_timeout(db_, 0);  // a store held by a browser stays held; never wait on it
    return true;
  }
  sqlite3* get() const { return db_; }
  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    rc_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt() { sqlite3_finalize(stmt_); }
  bool ok() const { return rc_ == SQLITE_OK && stmt_; }
  int prepare_rc() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_ERROR;
};

bool IsBusy(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Reads the sites of an open store into `out`. False on any failure (unknown schema,
// corrupt file, lock), leaving `out` as it was.
// Whether the store has the cookie table with the columns this file relies on; preparing
// the statement reads the schema, so a corrupt file fails here too.
int CheckSchema(sqlite3* db, const CookieTable& table) {
  Stmt stmt(db, std::string("SELECT ") + table.host_column + ", name FROM " + table.name +
                    " LIMIT 0");
  return stmt.prepare_rc();
}

bool ReadSites(sqlite3* db, const CookieTable& table, std::set<std::string>& out) {
  if (CheckSchema(db, table) != SQLITE_OK) return false;
  Stmt stmt(db, std::string("SELECT DISTINCT ") + table.host_column + " FROM " + table.name);
  if (!stmt.ok()) return false;
  std::set<std::string> found;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
    if (!text) continue;
    std::string site = CookieSiteOfHost(reinterpret_cast<const char*>(text));
    if (!site.empty()) found.insert(std::move(site));
  }
  if (rc != SQLITE_DONE) return false;
  out.insert(found.begin(), found.end());
  return true;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

// A private copy of a store and its journal or WAL, for reading a store that its browser
// holds locked. Reading the files is harmless to the browser; the copy goes when done.
class Snapshot {
 public:
  explicit Snapshot(const std::string& store) {
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    std::string templ = base + "/tidrex-cookies-XXXXXX";
    if (!::mkdtemp(templ.data())) return;
    dir_ = templ;
    std::string copy = dir_ + "/store";
    if (!CopyFile(store, copy)) return;
    for (const char* suffix : {"-wal", "-journal"}) {
      if (Exists(store + suffix) && !CopyFile(store + suffix, copy + suffix)) return;
    }
    path_ = copy;
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() {
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  const std::string& path() const { return path_; }  // empty when the copy failed

 private:
  std::string dir_;
  std::string path_;
};

bool ReadSnapshotSites(const std::string& store, const CookieTable& table,
                       std::set<std::string>& out) {
  Snapshot snap(store);
  if (snap.path().empty()) return false;
  Db db;
  // Read-write on the copy only, so that SQLite can recover its WAL or journal.
  return db.Open(FileUri(snap.path(), "mode=rw"), SQLITE_OPEN_READWRITE) &&
         ReadSites(db.get(), table, out);
}

// The sites of one store, read so that the store's folder is left exactly as it was: a
// WAL store without its -wal (closed cleanly) is read as immutable, which creates no -shm
// or -wal beside it; a WAL store without -shm is held in exclusive mode by its browser.
bool ReadStoreSites(const CookieStore& store, std::set<std::string>& out) {
  unsigned char header[100];
  if (!IsRegularFile(store.path) || !ReadHeader(store.path, header)) return false;
  const CookieTable table = TableOf(store.family);
  const bool wal = header[18] == 2;
  if (wal) {
    if (!Exists(store.path + "-wal")) {
      Db db;
      if (db.Open(FileUri(store.path, "immutable=1"), SQLITE_OPEN_READONLY) &&
          ReadSites(db.get(), table, out)) {
        return true;
      }
    } else if (Exists(store.path + "-shm")) {
      Db db;
      if (db.Open(FileUri(store.path, "mode=ro"), SQLITE_OPEN_READONLY) &&
          ReadSites(db.get(), table, out)) {
        return true;
      }
    }
  } else {
    Db db;
    if (db.Open(FileUri(store.path, "mode=ro"), SQLITE_OPEN_READONLY) &&
        ReadSites(db.get(), table, out)) {
      return true;
    }
  }
  return ReadSnapshotSites(store.path, table, out);
}

// The chosen sites that the store holds; none when it cannot be read.
std::set<std::string> HeldSites(const CookieStore& store, const std::set<std::string>& chosen) {
  std::set<std::string> found;
  std::set<std::string> held;
  if (!ReadStoreSites(store, found)) return held;
  std::set_intersection(found.begin(), found.end(), chosen.begin(), chosen.end(),
                        std::inserter(held, held.end()));
  return held;
}

// SQL function tidrex_doomed(host): 1 for a host of the set, compared exactly as stored.
void DoomedFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* doomed = static_cast<const std::unordered_set<std::string>*>(sqlite3_user_data(ctx));
  const unsigned char* text = sqlite3_value_text(argv[0]);
  sqlite3_result_int(ctx, text && doomed->count(reinterpret_cast<const char*>(text)) != 0);
}

enum class WriteResult { Changed, Unchanged, Busy, Failed };

// `held` is set to the chosen sites the store holds once its hosts have been read.
WriteResult DeleteFromStore(const CookieStore& store, const std::set<std::string>& chosen,
                            std::size_t& rows, std::optional<std::set<std::string>>& held) {
  unsigned char header[100];
  if (!IsRegularFile(store.path) || !ReadHeader(store.path, header)) return WriteResult::Failed;
  const CookieTable table = TableOf(store.family);
  Db db;
  if (!db.Open(FileUri(store.path, "mode=rw"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW)) {
    return WriteResult::Failed;
  }
  std::unordered_set<std::string> doomed;
  if (sqlite3_create_function_v2(db.get(), "tidrex_doomed", 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, &doomed,
                                 DoomedFunction, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return WriteResult::Failed;
  }
  int rc = db.Exec("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return IsBusy(rc) ? WriteResult::Busy : WriteResult::Failed;

  auto abandon = [&](int code) {
    db.Exec("ROLLBACK");
    return IsBusy(code) ? WriteResult::Busy : WriteResult::Failed;
  };
  rc = CheckSchema(db.get(), table);
  if (rc != SQLITE_OK) return abandon(rc);
  // The hosts of the chosen sites, found by the same rule as the listing, so that exactly
  // what was listed under a name goes, and the site rule runs once per host, not per row.
  {
    Stmt hosts(db.get(), std::string("SELECT DISTINCT ") + table.host_column + " FROM " +
                             table.name);
    if (!hosts.ok()) return abandon(hosts.prepare_rc());
    std::set<std::string> sites;
    while ((rc = sqlite3_step(hosts.get())) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(hosts.get(), 0);
      if (!text) continue;
      std::string host(reinterpret_cast<const char*>(text));
      std::string site = CookieSiteOfHost(host);
      if (chosen.count(site)) {
        doomed.insert(std::move(host));
        sites.insert(std::move(site));
      }
    }
    if (rc != SQLITE_DONE) return abandon(rc);
    held = std::move(sites);
  }
  if (doomed.empty()) {  // a store without the chosen sites is not written at all
    db.Exec("ROLLBACK");
    return WriteResult::Unchanged;
  }
  {
    Stmt del(db.get(), std::string("DELETE FROM ") + table.name + " WHERE tidrex_doomed(" +
                           table.host_column + ")");
    if (!del.ok()) return abandon(del.prepare_rc());
    rc = sqlite3_step(del.get());
    if (rc != SQLITE_DONE) return abandon(rc);
  }
  std::size_t deleted = static_cast<std::size_t>(sqlite3_changes64(db.get()));
  rc = db.Exec("COMMIT");
  if (rc != SQLITE_OK) return abandon(rc);
  rows += deleted;
  return WriteResult::Changed;
}

}  // namespace

std::string CookieSiteOfHost(const std::string& raw) {
  std::string host = AsciiLower(raw);
  if (!host.empty() && host.front() == '.') host.erase(0, 1);
  if (host.empty() || host.find_first_not_of('.') == std::string::npos) return {};
  for (unsigned char c : host) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return {};
  }
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  char buf[INET6_ADDRSTRLEN];
  in6_addr v6{};
  if (::inet_pton(AF_INET6, bare.c_str(), &v6) == 1 &&
      ::inet_ntop(AF_INET6, &v6, buf, sizeof buf)) {
    return std::string("[") + buf + "]";
  }
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return host;
  const char* registrable = psl_registrable_domain(Psl(), host.c_str());
  return registrable ? std::string(registrable) : host;
}

std::vector<CookieStore> FindCookieStores() {
  std::vector<CookieStore> stores;
  for (const BrowserProfile& profile : FindBrowserProfiles()) {
    std::vector<std::string> candidates;
    if (profile.family != BrowserFamily::Chromium) {
      candidates = {profile.profile_dir + "/cookies.sqlite"};
    } else {
      candidates = {profile.profile_dir + "/Cookies", profile.profile_dir + "/Network/Cookies"};
    }
    bool running = false;
    bool asked = false;
    for (const std::string& path : candidates) {
      if (!IsRegularFile(path)) continue;
      if (!asked) {
        running = IsBrowserRunning(profile);
        asked = true;
      }
      stores.push_back({path, profile.family, running});
    }
  }
  return stores;
}

CookieListing ListCookieSites(const std::vector<CookieStore>& stores) {
  CookieListing listing;
  std::set<std::string> sites;
  for (const CookieStore& store : stores) {
    if (ReadStoreSites(store, sites)) {
      ++listing.stores_read;
    } else {
      ++listing.stores_skipped;
    }
  }
  listing.sites.assign(sites.begin(), sites.end());
  return listing;
}

CookieDeletion DeleteCookieSites(const std::vector<CookieStore>& stores,
                                 const std::vector<std::string>& sites) {
  CookieDeletion result;
  std::set<std::string> chosen;
  for (const std::string& site : sites) {
    if (!site.empty()) chosen.insert(AsciiLower(site));
  }
  if (chosen.empty()) return result;
  std::set<std::string> left;
  for (const CookieStore& store : stores) {
    std::optional<std::set<std::string>> held;
    // A running browser keeps its cookies in memory and would write them back.
    const WriteResult written = store.browser_running ? WriteResult::Busy
                                                      : DeleteFromStore(store, chosen, result.rows_deleted, held);
    if (written == WriteResult::Changed) ++result.stores_changed;
    if (written == WriteResult::Changed || written == WriteResult::Unchanged) continue;
    // Not written: what it holds of the chosen sites stays. Read only if the attempt did not.
    if (!held) held = HeldSites(store, chosen);
    if (written == WriteResult::Busy && !held->empty()) ++result.stores_left;
    if (written == WriteResult::Failed) ++result.stores_skipped;
    left.insert(held->begin(), held->end());
  }
  result.sites_left.assign(left.begin(), left.end());
  return result;
}

}  // namespace tidrex::platform
