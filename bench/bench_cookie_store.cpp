// The cookie folder over a store of 20,000 cookies (5,000 hosts of 1,000 sites): listing
// and deleting three sites, each against the bare SQL that it cannot do with less.
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/cookie_store.h"
#include "tests/support/sandbox.h"

namespace {

using tidrex::platform::BrowserFamily;
using tidrex::platform::CookieStore;

constexpr int kSites = 1000;
constexpr int kHostsPerSite = 5;
constexpr int kRowsPerHost = 4;

void Exec(sqlite3* db, const std::string& sql) { sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

struct Fixture {
  tidrex::testing::Sandbox sandbox;
  std::string master = sandbox.Path("master.sqlite");
  std::string work = sandbox.Path("cookies.sqlite");

  Fixture() {
    sqlite3* db = nullptr;
    sqlite3_open(master.c_str(), &db);
    Exec(db, "PRAGMA journal_mode=WAL");
    Exec(db,
         "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
         "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, "
         "lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, "
         "inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0, schemeMap INTEGER "
         "DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, updateTime INTEGER, "
         "CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes))");
    Exec(db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO moz_cookies(name, value, host, path, expiry) "
                       "VALUES(?1, 'value', ?2, '/', 1900000000000)",
                       -1, &ins, nullptr);
    for (int s = 0; s < kSites; ++s) {
      for (int h = 0; h < kHostsPerSite; ++h) {
        std::string host = (h == 0 ? "." : "www" + std::to_string(h) + ".") + Site(s);
        for (int r = 0; r < kRowsPerHost; ++r) {
          std::string name = "c" + std::to_string(r);
          sqlite3_bind_text(ins, 1, name.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_bind_text(ins, 2, host.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_step(ins);
          sqlite3_reset(ins);
        }
      }
    }
    sqlite3_finalize(ins);
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
  static std::string Site(int s) { return "site-" + std::to_string(s) + ".co.uk"; }
  void Fresh() {
    std::filesystem::copy_file(master, work, std::filesystem::copy_options::overwrite_existing);
  }
  std::vector<CookieStore> Stores() const { return {{work, BrowserFamily::Firefox, false}}; }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_ListCookieSites(benchmark::State& state) {
  Fixture& f = Shared();
  f.Fresh();
  for (auto _ : state) {
    auto listing = tidrex::platform::ListCookieSites(f.Stores());
    if (listing.sites.size() != kSites) state.SkipWithError("wrong listing");
    benchmark::DoNotOptimize(listing);
  }
}
BENCHMARK(BM_ListCookieSites)->Unit(benchmark::kMillisecond);

// Baseline: the distinct hosts alone, without folding them into sites.
void BM_SelectDistinctHostsBaseline(benchmark::State& state) {
  Fixture& f = Shared();
  f.Fresh();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(("file:" + f.work + "?immutable=1").c_str(), &db,
                    SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT DISTINCT host FROM moz_cookies", -1, &st, nullptr);
    std::vector<std::string> hosts;
    while (sqlite3_step(st) == SQLITE_ROW) {
      hosts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    benchmark::DoNotOptimize(hosts);
  }
}
BENCHMARK(BM_SelectDistinctHostsBaseline)->Unit(benchmark::kMillisecond);

void BM_DeleteThreeSites(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    f.Fresh();
    state.ResumeTiming();
    auto result = tidrex::platform::DeleteCookieSites(
        f.Stores(), {Fixture::Site(1), Fixture::Site(500), Fixture::Site(999)});
    if (result.rows_deleted != 3 * kHostsPerSite * kRowsPerHost) state.SkipWithError("wrong rows");
  }
}
BENCHMARK(BM_DeleteThreeSites)->Unit(benchmark::kMillisecond);

// Baseline: one transaction deleting the very hosts, already known, by an IN list.
void BM_DeleteKnownHostsBaseline(benchmark::State& state) {
  Fixture& f = Shared();
  std::string in;
  for (int s : {1, 500, 999}) {
    for (int h = 0; h < kHostsPerSite; ++h) {
      in += std::string(in.empty() ? "" : ",") + "'" +
            (h == 0 ? "." : "www" + std::to_string(h) + ".") + Fixture::Site(s) + "'";
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    f.Fresh();
    state.ResumeTiming();
    sqlite3* db = nullptr;
    sqlite3_open_v2(f.work.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Exec(db, "BEGIN IMMEDIATE");
    Exec(db, "DELETE FROM moz_cookies WHERE host IN (" + in + ")");
    Exec(db, "COMMIT");
    if (sqlite3_changes(db) != 3 * kHostsPerSite * kRowsPerHost) state.SkipWithError("wrong rows");
    sqlite3_close(db);
  }
}
BENCHMARK(BM_DeleteKnownHostsBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
