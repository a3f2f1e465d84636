// The cache listing and the cache cleaning over 20,000 Chromium and 20,000 Firefox entries,
// each against its baseline in the same run:
//   ListCacheEntries    vs. a bare loop that opens each entry file and reads only its key
//   a WebKit listing    vs. the same bare loop over 20,000 WebKit records
//   CleanInternetCache  vs. unlinking the same files (keep list of 1,001 entries)
// and the memory the listing holds, for small and for large (sparse) entry bodies.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/internet_delete.h"
#include "platform/internet_cache.h"
#include "tests/support/cache_fixtures.h"
#include "tests/support/sandbox.h"

namespace {

namespace fx = tidrex::testing;
using tidrex::testing::Sandbox;

constexpr int kPerBrowser = 20000;

std::string UrlOf(int i) {
  return "https://site" + std::to_string(i % 211) + ".test/assets/" + std::to_string(i) + "/app.js?v=" +
         std::to_string(i * 7);
}

struct Cache {
  std::unique_ptr<Sandbox> box;
  std::string chromium, firefox;
  std::vector<std::string> doomed_files;  // the files cleaning with the keep list removes
};

// A URL is on the keep list when its number is a multiple of 80: 250 of each browser.
bool Kept(int url_number) { return url_number % 80 == 0; }

// `count` entries per browser. Every tenth Chromium URL is cached a second time in another
// partition, and every twentieth entry has a sparse companion.
void Fill(Cache& c, int count, std::uint32_t body_size, bool sparse_bodies) {
  const std::string body(sparse_bodies ? 0 : body_size, 'b');
  for (int i = 0; i < count; ++i) {
    const int u = i % 10 == 9 ? i - 1 : i;
    const std::string url = UrlOf(u);
    const std::string key = i % 10 == 9 ? fx::ChromiumPartitionedKey("https://other.test", "https://other.test", url)
                            : i % 2     ? fx::ChromiumPartitionedKey("https://site.test", "https://site.test", url)
                                        : fx::ChromiumGetKey(url);
    const std::string p = sparse_bodies ? fx::WriteSparseChromiumEntry(c.chromium, key, body_size)
                                        : fx::WriteChromiumEntry(c.chromium, key, body);
    if (!Kept(u)) c.doomed_files.push_back(p);
    if (i % 20 == 3) {
      const std::string s = fx::WriteChromiumSparse(c.chromium, key);
      if (!Kept(u)) c.doomed_files.push_back(s);
    }
  }
  for (int i = 0; i < count; ++i) {
    const int u = kPerBrowser + i;
    const std::string key = fx::FirefoxKeyOf(UrlOf(u), i % 2 ? "O^partitionKey=%28https%2Csite.test%29,a," : "a,");
    const std::string p = sparse_bodies ? fx::WriteSparseFirefoxEntry(c.firefox, key, body_size)
                                        : fx::WriteFirefoxEntry(c.firefox, key, body);
    if (!Kept(u)) c.doomed_files.push_back(p);
  }
}

// The keep list: 1,001 URLs, 500 of them cached.
void WriteKeepList(const Sandbox& box) {
  std::string ini = "[Delete]\nTemporary Internet Files=Yes\n[Internet]\n";
  int n = 0;
  for (int u = 0; u < 2 * kPerBrowser; u += 80) ini += "sFile" + std::to_string(n++) + "=" + UrlOf(u) + "\n";
  for (; n < 1001; ++n) ini += "sFile" + std::to_string(n) + "=https://absent.test/" + std::to_string(n) + "\n";
  Sandbox::WriteFile(box.IniPath(), ini);
}

std::unique_ptr<Cache> MakeCache(int count = kPerBrowser, std::uint32_t body_size = 512, bool sparse_bodies = false) {
  auto c = std::make_unique<Cache>();
  c->box = std::make_unique<Sandbox>();
  c->chromium = fx::MakeChromiumProfile(*c->box);
  c->firefox = fx::MakeFirefoxProfile(*c->box);
  Fill(*c, count, body_size, sparse_bodies);
  WriteKeepList(*c->box);
  return c;
}

Cache& SharedCache() {
  static std::unique_ptr<Cache> cache = MakeCache();
  return *cache;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  closedir(d);
  return names;
}

std::uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return u[0] | (u[1] << 8) | (u[2] << 16) | (std::uint32_t{u[3]} << 24);
}
std::uint32_t Be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{u[0]} << 24) | (u[1] << 16) | (u[2] << 8) | u[3];
}

// The baseline: list each folder, open each entry file, read its key, close it.
void BM_Baseline_ReadKeys(benchmark::State& state) {
  Cache& c = SharedCache();
  const std::string ff_entries = c.firefox + "/entries";
  std::string key;
  for (auto _ : state) {
    std::size_t keys = 0;
    for (const std::string& name : Names(c.chromium)) {
      if (name.size() != 18 || name[17] != '0') continue;
      const int fd = open((c.chromium + "/" + name).c_str(), O_RDONLY);
      char h[24];
      if (read(fd, h, 24) == 24) {
        key.resize(Le32(h + 12));
        if (read(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size())) ++keys;
      }
      close(fd);
    }
    for (const std::string& name : Names(ff_entries)) {
      const int fd = open((ff_entries + "/" + name).c_str(), O_RDONLY);
      struct stat st;
      fstat(fd, &st);
      char m[4], h[32];
      if (pread(fd, m, 4, st.st_size - 4) == 4) {
        const std::uint64_t meta = Be32(m);
        const std::uint64_t at = meta + 4 + 2 * ((meta + 262143) / 262144);
        if (pread(fd, h, 32, at) == 32) {
          key.resize(Be32(h + 24));
          if (pread(fd, key.data(), key.size(), at + 32) == static_cast<ssize_t>(key.size())) ++keys;
        }
      }
      close(fd);
    }
    if (keys != 2 * kPerBrowser) state.SkipWithError("baseline read the wrong number of keys");
    benchmark::DoNotOptimize(keys);
  }
  state.counters["entries"] = 2 * kPerBrowser;
}
BENCHMARK(BM_Baseline_ReadKeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ListCacheEntries(benchmark::State& state) {
  SharedCache();
  std::size_t n = 0;
  for (auto _ : state) {
    const auto listing = tidrex::engine::ListCacheEntries();
    n = listing.size();
    benchmark::DoNotOptimize(listing.data());
  }
  if (n != 2 * kPerBrowser) state.SkipWithError("wrong listing size");
  state.counters["entries"] = static_cast<double>(n);
}
BENCHMARK(BM_ListCacheEntries)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The baseline: unlink exactly the files the cleaning removes, by name relative to their
// open folder and in name order, as the cleaning itself does.
void BM_Baseline_UnlinkSameFiles(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto c = MakeCache();
    std::vector<std::pair<std::string, std::string>> files;  // folder, name
    for (const std::string& p : c->doomed_files) {
      const std::size_t slash = p.rfind('/');
      files.push_back({p.substr(0, slash), p.substr(slash + 1)});
    }
    std::sort(files.begin(), files.end());
    sync();  // the new files' writeback is not part of either measurement
    state.ResumeTiming();
    int fd = -1;
    std::string open_folder;
    for (const auto& [folder, name] : files) {
      if (folder != open_folder) {
        if (fd >= 0) close(fd);
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        open_folder = folder;
      }
      unlinkat(fd, name.c_str(), 0);
    }
    close(fd);
    state.PauseTiming();
    c.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Baseline_UnlinkSameFiles)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CleanInternetCache(benchmark::State& state) {
  std::size_t left = 0, expected_left = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto c = MakeCache();
    sync();
    expected_left = 2 * kPerBrowser + kPerBrowser / 20 - c->doomed_files.size();  // all files minus the removed
    state.ResumeTiming();
    tidrex::engine::CleanInternetCache();
    state.PauseTiming();
    left = Names(c->chromium).size() + Names(c->firefox + "/entries").size();
    c.reset();
    state.ResumeTiming();
  }
  if (left != expected_left) state.SkipWithError("cleaning left the wrong files");
  state.counters["files_left"] = static_cast<double>(left);
}
BENCHMARK(BM_CleanInternetCache)->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- WebKit --------------------------------------------------------------------------

struct WebKitCache {
  std::unique_ptr<Sandbox> box;
  std::string cache;  // ".../WebKitCache"
  std::vector<std::string> folders;  // the partitions' Resource folders
};

// Records in 20 partitions, every fifth with its body in the blob store.
WebKitCache& SharedWebKitCache() {
  static std::unique_ptr<WebKitCache> shared = [] {
    auto c = std::make_unique<WebKitCache>();
    c->box = std::make_unique<Sandbox>();
    c->cache = fx::MakeEpiphanyProfile(*c->box);
    std::set<std::string> folders;
    for (int i = 0; i < kPerBrowser; ++i) {
      fx::WebKitRecordOptions o;
      o.partition = i % 20 ? "site" + std::to_string(i % 20) + ".test" : "";
      o.body_in_blob = i % 5 == 0;
      const std::string path = fx::WriteWebKitRecord(c->cache, UrlOf(i), std::string(o.body_in_blob ? 5000 : 512, 'b'), o);
      folders.insert(path.substr(0, path.rfind('/')));
    }
    c->folders.assign(folders.begin(), folders.end());
    return c;
  }();
  return *shared;
}

// The baseline: list each Resource folder, read each record's first bytes in one call and
// take the three key strings from them.
void BM_Baseline_ReadWebKitKeys(benchmark::State& state) {
  WebKitCache& c = SharedWebKitCache();
  std::string url;
  for (auto _ : state) {
    std::size_t keys = 0;
    for (const std::string& folder : c.folders) {
      for (const std::string& name : Names(folder)) {
        if (name.size() != 40) continue;
        const int fd = open((folder + "/" + name).c_str(), O_RDONLY);
        char b[512];
        const ssize_t got = pread(fd, b, sizeof b, 0);
        close(fd);
        std::size_t at = 4;
        for (int s = 0; s < 3 && got > 0; ++s) {
          const std::uint32_t n = Le32(b + at);
          if (at + 5 + n > static_cast<std::size_t>(got)) break;
          if (s == 2) {
            url.assign(b + at + 5, n);
            ++keys;
          }
          at += 5 + n;
        }
      }
    }
    if (keys != kPerBrowser) state.SkipWithError("baseline read the wrong number of keys");
    benchmark::DoNotOptimize(keys);
  }
  state.counters["entries"] = kPerBrowser;
}
BENCHMARK(BM_Baseline_ReadWebKitKeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ListWebKitCache(benchmark::State& state) {
  WebKitCache& c = SharedWebKitCache();
  tidrex::platform::BrowserProfile epiphany;
  epiphany.browser = "epiphany";
  epiphany.family = tidrex::platform::BrowserFamily::WebKit;
  epiphany.cache_dir = c.cache;
  std::size_t n = 0;
  for (auto _ : state) {
    tidrex::platform::UrlCache cache({epiphany});
    const auto listing = cache.List();
    n = listing.size();
    benchmark::DoNotOptimize(listing.data());
  }
  if (n != kPerBrowser) state.SkipWithError("wrong listing size");
  state.counters["entries"] = static_cast<double>(n);
}
BENCHMARK(BM_ListWebKitCache)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// What a listing holds afterwards (the list and the URL index kept for deletion), for
// 512-byte and 1 MiB bodies and for a quarter of the entries: it follows the number of
// entries, not the size of their files.
void HeldMemory(benchmark::State& state, int count, std::uint32_t body_size, bool sparse) {
  auto c = MakeCache(count, body_size, sparse);
  const auto profiles = tidrex::platform::FindBrowserProfiles();
  double held = 0;
  std::size_t entries = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t before = mallinfo2().uordblks;
    tidrex::platform::UrlCache cache(profiles);
    const auto listing = cache.List();
    const std::size_t after = mallinfo2().uordblks;
    held = static_cast<double>(after) - static_cast<double>(before);
    entries = listing.size();
    benchmark::DoNotOptimize(listing.data());
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["held_bytes"] = held;
  state.counters["held_bytes_per_entry"] = held / static_cast<double>(entries);
  state.counters["body_bytes"] = body_size;
}
void BM_HeldMemory_512ByteBodies(benchmark::State& state) { HeldMemory(state, kPerBrowser, 512, false); }
void BM_HeldMemory_1MiBBodies(benchmark::State& state) { HeldMemory(state, kPerBrowser, 1 << 20, true); }
void BM_HeldMemory_QuarterOfTheEntries(benchmark::State& state) { HeldMemory(state, kPerBrowser / 4, 512, false); }
BENCHMARK(BM_HeldMemory_512ByteBodies)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_HeldMemory_1MiBBodies)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_HeldMemory_QuarterOfTheEntries)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
