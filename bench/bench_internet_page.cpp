// The Internet files page opening over 40,000 cache entries and a 1,001-entry keep list,
// against its baseline in the same run: the cache listing alone (ListCacheEntries). The
// page must stay within 1.5 times the listing; the ratios are printed at the end, and
// BM_Interleaved_Ratio measures the two in turn for a figure that a busy machine skews less.
//
// Offscreen: QT_QPA_PLATFORM=offscreen bench_internet_page
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/internet_delete.h"
#include "platform/forms.h"
#include "platform/internet_cache.h"
#include "screens/form3a.h"
#include "shell/form10.h"
#include "tests/support/sandbox.h"

namespace {

using tidrex::testing::Sandbox;
namespace forms = tidrex::forms;

constexpr int kEntries = 40000;
constexpr int kKeepList = 1001;

std::string UrlOf(int i) {
  return "https://site" + std::to_string(i % 307) + ".example/assets/" + std::to_string(i) +
         "/bundle.js?v=" + std::to_string(i * 13) + "&lang=en-GB&theme=dark";
}

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A Chromium profile with `kEntries` entries and a keep list of which half is cached.
std::unique_ptr<Sandbox> MakeFixture() {
  auto box = std::make_unique<Sandbox>();
  Sandbox::MakeDirs(box->Path("home/.config/chromium/Default"));
  const std::string cache = box->Path("home/.cache/chromium/Default/Cache/Cache_Data");
  Sandbox::MakeDirs(cache);
  const std::string body(600, 'b');
  for (int i = 0; i < kEntries; ++i) {
    const std::string key = "1/0/" + UrlOf(i);
    std::string bytes;
    PutLe(bytes, 0xfcfb6d1ba7725c30ull, 8);
    PutLe(bytes, 5, 4);
    PutLe(bytes, key.size(), 4);
    PutLe(bytes, 0, 4);
    PutLe(bytes, 0, 4);
    bytes += key;
    bytes += body;
    Sandbox::WriteFile(cache + "/" + tidrex::platform::ChromiumEntryHash(key) + "_0", bytes);
  }
  std::string ini = "[Delete]\nTemporary Internet Files=Yes\n[Internet]\n";
  for (int n = 0; n < kKeepList; ++n) {
    const std::string url = n % 2 ? UrlOf(n * 37 % kEntries) : "https://absent.example/kept/" + std::to_string(n);
    ini += "sFile" + std::to_string(n) + "=" + url + "\n";
  }
  Sandbox::WriteFile(box->IniPath(), ini);
  return box;
}

Sandbox& Fixture() {
  static std::unique_ptr<Sandbox> box = MakeFixture();
  return *box;
}

void BM_Baseline_ListCacheEntries(benchmark::State& state) {
  Fixture();
  std::size_t listed = 0;
  for (auto _ : state) {
    std::vector<std::string> entries = tidrex::engine::ListCacheEntries();
    listed = entries.size();
    benchmark::DoNotOptimize(entries.data());
  }
  state.counters["entries"] = static_cast<double>(listed);
}

// Loading the page: scaling, the listing, the keep list, both lists filled, shown.
void BM_Form3a_Load(benchmark::State& state) {
  Fixture();
  tidrex::shell::Form10Slot().Get();  // the page is always opened in front of the backdrop
  int listed = 0, kept = 0;
  for (auto _ : state) {
    tidrex::screens::Form3a& page = tidrex::screens::Form3aSlot().Get();
    forms::DoEvents();  // the page's first paint and its activation
    state.PauseTiming();
    listed = page.List1.ListCount();
    kept = page.List2.ListCount();
    page.Unload();
    forms::DoEvents();
    state.ResumeTiming();
  }
  state.counters["entries"] = listed;
  state.counters["kept"] = kept;
}

// Both in turn, so that a machine whose load drifts during the run weighs on both alike.
void BM_Interleaved_Ratio(benchmark::State& state) {
  Fixture();
  tidrex::shell::Form10Slot().Get();
  using Clock = std::chrono::steady_clock;
  Clock::duration listing{}, page{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::vector<std::string> entries = tidrex::engine::ListCacheEntries();
    benchmark::DoNotOptimize(entries.data());
    const auto t1 = Clock::now();
    tidrex::screens::Form3a& form = tidrex::screens::Form3aSlot().Get();
    forms::DoEvents();
    const auto t2 = Clock::now();
    listing += t1 - t0;
    page += t2 - t1;
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    form.Unload();
    forms::DoEvents();
  }
  state.counters["listing_ms"] = std::chrono::duration<double, std::milli>(listing).count() / state.iterations();
  state.counters["page_ms"] = std::chrono::duration<double, std::milli>(page).count() / state.iterations();
  state.counters["ratio"] = std::chrono::duration<double>(page) / std::chrono::duration<double>(listing);
}

BENCHMARK(BM_Baseline_ListCacheEntries)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3);
BENCHMARK(BM_Form3a_Load)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(3);
BENCHMARK(BM_Interleaved_Ratio)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// Prints the page's time as a multiple of the listing's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration)
        times_[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto page = times_.find("BM_Form3a_Load");
    auto base = times_.find("BM_Baseline_ListCacheEntries");
    if (page == times_.end() || base == times_.end() || base->second.real <= 0 || base->second.cpu <= 0) return;
    std::printf("Form3a load / ListCacheEntries: real time %.2f, CPU time %.2f (limit 1.50)\n",
                page->second.real / base->second.real, page->second.cpu / base->second.cpu);
  }

 private:
  struct Times {
    double real = 0, cpu = 0;
  };
  std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  forms::InitializeApplication(argc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
