// The configuration file and the deletion primitive against their baselines, side by side:
//   ReadIniList over 1,200 keys; 1,200 single writes against one batch of the same writes;
//   an unattended run's reads, each from the file against all from one reading;
//   a settings file at the read ceiling against one of 100 GB, refused from its size;
//   DeletePath of a 100,000-file tree against `rm -rf` of an identical tree.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/ini_settings.h"
#include "engine/internet_keep_list.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "platform/small_file.h"
#include "tests/support/sandbox.h"

extern char** environ;

namespace {

using tidrex::testing::Sandbox;

std::vector<tidrex::platform::ProfileWrite> KeepListWrites(int n) {
  std::vector<tidrex::platform::ProfileWrite> w;
  for (int i = 0; i < n; ++i)
    w.push_back({"Internet", tidrex::engine::ListKey(i),
                 "https://www.example.com/assets/" + std::to_string(i) + "/style.css?v=" + std::to_string(i * 7)});
  return w;
}

void BM_ReadIniList1200(benchmark::State& state) {
  Sandbox box;
  tidrex::platform::WriteProfileStrings(box.IniPath(), KeepListWrites(1200));
  for (auto _ : state) benchmark::DoNotOptimize(tidrex::engine::ReadIniList(box.IniPath(), "Internet"));
}
BENCHMARK(BM_ReadIniList1200)->Unit(benchmark::kMillisecond);

void BM_Write1200Single(benchmark::State& state) {
  Sandbox box;
  auto writes = KeepListWrites(1200);
  for (auto _ : state) {
    state.PauseTiming();
    unlink(box.IniPath().c_str());
    state.ResumeTiming();
    for (const auto& w : writes) tidrex::engine::WriteIniValue(box.IniPath(), w.section, w.key, w.value);
  }
}
BENCHMARK(BM_Write1200Single)->Unit(benchmark::kMillisecond);

void BM_Write1200Batch(benchmark::State& state) {
  Sandbox box;
  auto writes = KeepListWrites(1200);
  for (auto _ : state) {
    state.PauseTiming();
    unlink(box.IniPath().c_str());
    state.ResumeTiming();
    tidrex::platform::WriteProfileStrings(box.IniPath(), writes);
  }
}
BENCHMARK(BM_Write1200Batch)->Unit(benchmark::kMillisecond);

// What an unattended run with every category on reads: the three switches, the user folder
// and the keep list, from a file that holds a 1,200-entry keep list.
void RunReads(benchmark::State& state, bool one_reading) {
  Sandbox box;
  auto writes = KeepListWrites(1200);
  writes.push_back({"Delete", "User", "Yes"});
  writes.push_back({"Delete", "Temp", "Yes"});
  writes.push_back({"Delete", "Temporary Internet Files", "Yes"});
  writes.push_back({"User", "sFile0", box.Path("user")});
  tidrex::platform::WriteProfileStrings(box.IniPath(), writes);
  for (auto _ : state) {
    std::optional<tidrex::engine::IniOperation> run;
    if (one_reading) run.emplace(tidrex::engine::ConfigFilePath());
    const std::string file = tidrex::engine::ConfigFilePath();
    for (const char* key : {"User", "Temp", "Temporary Internet Files"})
      benchmark::DoNotOptimize(tidrex::engine::ReadIniValue(file, "Delete", key));
    benchmark::DoNotOptimize(tidrex::engine::ReadIniValue(file, "User", "sFile0"));
    benchmark::DoNotOptimize(tidrex::engine::LoadInternetKeepList());
  }
}
void BM_RunReadsEachFromTheFile(benchmark::State& state) { RunReads(state, false); }
void BM_RunReadsFromOneReading(benchmark::State& state) { RunReads(state, true); }
BENCHMARK(BM_RunReadsEachFromTheFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RunReadsFromOneReading)->Unit(benchmark::kMicrosecond);

// A read of a settings file at the ceiling (a keep list padded to 4 MiB), and of a sparse
// 100 GB one, which is refused from its size without a byte read or allocated.
void ReadOfSize(benchmark::State& state, off_t size) {
  Sandbox box;
  std::string text = "[Delete]\nTemp=Yes\n[Internet]\n";
  for (int i = 0; text.size() < tidrex::platform::kSmallFileCeiling - 128; ++i)
    text += "sFile" + std::to_string(i) + "=https://www.example.com/assets/" + std::to_string(i) + "/style.css\n";
  Sandbox::WriteFile(box.IniPath(), text);
  if (size > 0 && truncate(box.IniPath().c_str(), size) != 0) state.SkipWithError("cannot make a sparse file");
  for (auto _ : state) benchmark::DoNotOptimize(tidrex::engine::ReadIniValue(box.IniPath(), "Delete", "Temp"));
}
void BM_ReadSettingsAtTheCeiling(benchmark::State& state) { ReadOfSize(state, 0); }
void BM_ReadSettingsOf100GB(benchmark::State& state) { ReadOfSize(state, off_t{100} << 30); }
BENCHMARK(BM_ReadSettingsAtTheCeiling)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSettingsOf100GB)->Unit(benchmark::kMicrosecond);

// 100,000 files in 1,111 folders: 10 top folders, 100 below each, 1,000 leaves in all,
// 90 files in each leaf and 100 in each upper folder.
void MakeTree(const std::string& root) {
  Sandbox::MakeDirs(root);
  int files = 0;
  auto fill = [&](const std::string& dir, int n) {
    for (int i = 0; i < n && files < 100000; ++i, ++files) {
      int fd = open((dir + "/f" + std::to_string(i) + ".tmp").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    }
  };
  for (int a = 0; a < 10; ++a) {
    std::string da = root + "/a" + std::to_string(a);
    for (int b = 0; b < 10; ++b) {
      std::string db = da + "/b" + std::to_string(b);
      for (int c = 0; c < 10; ++c) {
        std::string dc = db + "/c" + std::to_string(c);
        Sandbox::MakeDirs(dc);
        fill(dc, 90);
      }
      fill(db, 100);
    }
  }
  fill(root, 100000);
}

void BM_DeletePathTree(benchmark::State& state) {
  Sandbox box;
  std::string root = box.Path("tree");
  for (auto _ : state) {
    state.PauseTiming();
    MakeTree(root);
    state.ResumeTiming();
    tidrex::platform::DeletePath(root);
  }
}
BENCHMARK(BM_DeletePathTree)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RmRfTree(benchmark::State& state) {
  Sandbox box;
  std::string root = box.Path("tree");
  for (auto _ : state) {
    state.PauseTiming();
    MakeTree(root);
    state.ResumeTiming();
    char* argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), root.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "rm", nullptr, nullptr, argv, environ) == 0) waitpid(pid, nullptr, 0);
  }
}
BENCHMARK(BM_RmRfTree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
