// The cleaning engine against its baselines, in the same run:
//   EmptyTempFolder of a 100,000-file tree in 1,111 folders against `rm -rf` of an identical
//   tree (each on its own, and both alternating in one benchmark that reports the ratio);
//   SaveInternetKeepList of 1,200 entries against writing the resulting bytes once.
// The first pass on one and on two threads is measured as well.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/folder_emptying.h"
#include "engine/ini_settings.h"
#include "engine/internet_keep_list.h"
#include "platform/files.h"
#include "tests/support/sandbox.h"

extern char** environ;

namespace {

using tidrex::testing::Sandbox;
using Clock = std::chrono::steady_clock;

// 10 top folders, 10 below each, 10 leaves below those (1,111 folders with the root);
// 90 files in each leaf and 100 in each middle folder: 100,000 files.
void MakeTree(const std::string& root) {
  Sandbox::MakeDirs(root);
  auto fill = [](const std::string& dir, int n) {
    for (int i = 0; i < n; ++i) {
      int fd = open((dir + "/f" + std::to_string(i) + ".tmp").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    }
  };
  for (int a = 0; a < 10; ++a)
    for (int b = 0; b < 10; ++b) {
      const std::string db = root + "/a" + std::to_string(a) + "/b" + std::to_string(b);
      for (int c = 0; c < 10; ++c) {
        const std::string dc = db + "/c" + std::to_string(c);
        Sandbox::MakeDirs(dc);
        fill(dc, 90);
      }
      fill(db, 100);
    }
  // Both sides start from the same state of the disk: nothing left to write back.
  sync();
}

void RmRf(const std::string& path) {
  char* argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "rm", nullptr, nullptr, argv, environ) == 0) waitpid(pid, nullptr, 0);
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void BM_EmptyTempFolder(benchmark::State& state) {
  Sandbox box;
  box.SetEnv("Temp", box.TempDir());
  for (auto _ : state) {
    MakeTree(box.TempDir());
    auto start = Clock::now();
    tidrex::engine::EmptyTempFolder();
    state.SetIterationTime(Seconds(start));
  }
}
BENCHMARK(BM_EmptyTempFolder)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

void BM_RmRfTree(benchmark::State& state) {
  Sandbox box;
  for (auto _ : state) {
    MakeTree(box.TempDir());
    auto start = Clock::now();
    RmRf(box.TempDir());
    state.SetIterationTime(Seconds(start));
  }
}
BENCHMARK(BM_RmRfTree)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

// Both in turn within every iteration, so that the load of a shared machine falls on both;
// the time is ours and "ratio" is ours over rm's.
void BM_EmptyTempFolderOverRmRf(benchmark::State& state) {
  Sandbox box;
  box.SetEnv("Temp", box.TempDir());
  const std::string other = box.Path("other");
  double ours = 0, rm = 0;
  for (auto _ : state) {
    MakeTree(other);
    auto start = Clock::now();
    RmRf(other);
    rm += Seconds(start);
    MakeTree(box.TempDir());
    start = Clock::now();
    tidrex::engine::EmptyTempFolder();
    const double t = Seconds(start);
    ours += t;
    state.SetIterationTime(t);
  }
  state.counters["rm_ms"] = rm * 1000 / static_cast<double>(state.iterations());
  state.counters["ratio"] = ours / rm;
}
BENCHMARK(BM_EmptyTempFolderOverRmRf)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

// The first pass alone on one and on two threads: what sharing the work gains.
void BM_FirstPassThreads(benchmark::State& state) {
  Sandbox box;
  const unsigned threads = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    MakeTree(box.TempDir());
    auto start = Clock::now();
    tidrex::platform::DeletePath(box.TempDir() + "/*.*", threads);
    state.SetIterationTime(Seconds(start));
  }
}
BENCHMARK(BM_FirstPassThreads)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

std::vector<std::string> Entries(int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i)
    out.push_back("https://www.example.com/assets/" + std::to_string(i) + "/style.css?v=" + std::to_string(i * 7));
  return out;
}

void SeedConfiguration(const std::string& ini) {
  std::string text = "[sAppPath]\nShortCut=/opt/tidrex/\n[Delete]\nUser=Yes\nTemp=Yes\n"
                     "Temporary Internet Files=Yes\n[User]\nsFile0=/home/user/Downloads\n[Cookies]\n";
  for (int i = 0; i < 50; ++i) text += "sFile" + std::to_string(i) + "=/cookies/" + std::to_string(i) + ".txt\n";
  Sandbox::WriteFile(ini, text);
}

void BM_SaveInternetKeepList1200(benchmark::State& state) {
  Sandbox box;
  SeedConfiguration(box.IniPath());
  const auto entries = Entries(1200);
  // Every save starts from the file the previous one left, as on the Internet files page.
  for (auto _ : state) tidrex::engine::SaveInternetKeepList(entries);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(Sandbox::ReadFile(box.IniPath()).size()));
}
BENCHMARK(BM_SaveInternetKeepList1200)->Unit(benchmark::kMicrosecond);

void BM_WriteResultingBytesOnce(benchmark::State& state) {
  Sandbox box;
  SeedConfiguration(box.IniPath());
  tidrex::engine::SaveInternetKeepList(Entries(1200));
  const std::string bytes = Sandbox::ReadFile(box.IniPath());
  const std::string path = box.Path("baseline.ini");
  for (auto _ : state) {
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    benchmark::DoNotOptimize(write(fd, bytes.data(), bytes.size()));
    close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_WriteResultingBytesOnce)->Unit(benchmark::kMicrosecond);

// The same bytes put in place the way the save must, so that no reader ever sees a part:
// a sibling file renamed over the old one. Shows what atomicity itself costs the kernel.
void BM_ReplaceResultingBytesOnce(benchmark::State& state) {
  Sandbox box;
  SeedConfiguration(box.IniPath());
  tidrex::engine::SaveInternetKeepList(Entries(1200));
  const std::string bytes = Sandbox::ReadFile(box.IniPath());
  const std::string path = box.Path("baseline.ini");
  Sandbox::WriteFile(path, bytes);
  for (auto _ : state) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    benchmark::DoNotOptimize(write(fd, bytes.data(), bytes.size()));
    close(fd);
    rename(tmp.c_str(), path.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReplaceResultingBytesOnce)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
