// Quorvel against a minimal Qt tray program (tray_baseline), both under one Xvfb with the
// trayer tray host, in the same run:
//   start to icon shown (the two programs in turn; the time shown is Quorvel's, both
//     medians are counters): from the spawn until the program's icon is docked and viewable in
//     the tray (watched through xcb);
//   idle: resident memory once the icon has been shown for a second, and the context
//     switches of all the program's threads over three idle seconds (0 means no timer or
//     other wake-up).
// Quorvel runs from a sandboxed application folder whose Clean.ini has the switches set, so
// it shows nothing but its icon. Skips (prints why) when Xvfb or trayer is missing.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sandbox.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using tidrex::testing::Sandbox;

pid_t Spawn(const std::vector<std::string>& args, int keep_fd = -1) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  int null_fd = open("/dev/null", O_WRONLY);
  posix_spawn_file_actions_adddup2(&fa, null_fd, 1);
  posix_spawn_file_actions_adddup2(&fa, null_fd, 2);
  (void)keep_fd;
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(null_fd);
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 250; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

struct Display {
  pid_t xvfb = -1;
  pid_t tray = -1;
  xcb_connection_t* conn = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t wm_class = XCB_ATOM_WM_CLASS;
  bool ok = false;
  std::string skip_reason;

  bool Start() {
    for (const char* t : {"Xvfb", "trayer"})
      if (!Have(t)) {
        skip_reason = std::string(t) + " is missing (scripts/setup --tests installs it)";
        return false;
      }
    int p[2];
    if (pipe(p) != 0) return false;
    xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(p[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    close(p[1]);
    std::string number;
    char c;
    while (read(p[0], &c, 1) == 1 && c != '\n') number += c;
    close(p[0]);
    if (number.empty()) {
      skip_reason = "Xvfb did not start";
      return false;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    for (const char* v : {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM",
                          "QT_SCALE_FACTOR", "QT_FONT_DPI"})
      unsetenv(v);
    conn = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(conn)) return false;
    root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    tray = Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "160",
                  "--heighttype", "pixel", "--height", "32", "--SetDockType", "true", "--transparent", "false"});
    auto until = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < until && FindViewable("trayer", false) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ok = FindViewable("trayer", false) != 0;
    if (!ok) skip_reason = "trayer did not come up";
    return ok;
  }

  ~Display() {
    if (conn) xcb_disconnect(conn);
    Stop(tray);
    Stop(xvfb);
  }

  std::string ClassOf(xcb_window_t w) {
    auto r = xcb_get_property_reply(conn, xcb_get_property(conn, 0, w, wm_class, XCB_ATOM_STRING, 0, 64), nullptr);
    std::string s;
    if (r) {
      s.assign(static_cast<const char*>(xcb_get_property_value(r)), std::size_t(xcb_get_property_value_length(r)));
      free(r);
    }
    return s;
  }

  bool Viewable(xcb_window_t w) {
    auto r = xcb_get_window_attributes_reply(conn, xcb_get_window_attributes(conn, w), nullptr);
    bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    free(r);
    return v;
  }

  // A viewable window whose class holds `klass`; with `inside_tray`, only one that is not a
  // child of the root (the tray host has taken it in).
  xcb_window_t FindViewable(const std::string& klass, bool inside_tray, xcb_window_t under = 0, int depth = 0) {
    if (!under) under = root;
    auto r = xcb_query_tree_reply(conn, xcb_query_tree(conn, under), nullptr);
    if (!r) return 0;
    xcb_window_t* kids = xcb_query_tree_children(r);
    int n = xcb_query_tree_children_length(r);
    xcb_window_t found = 0;
    for (int i = 0; i < n && !found; ++i) {
      if (ClassOf(kids[i]).find(klass) != std::string::npos && (!inside_tray || depth > 0) && Viewable(kids[i]))
        found = kids[i];
      else if (depth < 6)
        found = FindViewable(klass, inside_tray, kids[i], depth + 1);
    }
    free(r);
    return found;
  }
};

Display* g_display = nullptr;

struct Program {
  const char* label;
  std::string binary;
  std::string wm_class;
};

std::string PrepareQuorvel(Sandbox& box) {
  std::string app = box.AppFolder();
  std::string bin = app + "Quorvel";
  std::ifstream in(TIDREX_QUORVEL, std::ios::binary);
  std::ofstream out(bin, std::ios::binary);
  out << in.rdbuf();
  out.close();
  chmod(bin.c_str(), 0755);
  Sandbox::WriteFile(box.IniPath(), "[Delete]\nUser=No\nTemp=No\nTemporary Internet Files=No\n");
  return bin;
}

long ReadStatus(pid_t pid, const char* key) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  return -1;
}

long ContextSwitches(pid_t pid) {
  long total = 0;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream f(dir + "/" + e->d_name + "/status");
    std::string line;
    while (std::getline(f, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
  }
  closedir(d);
  return total;
}

// Starts the program, waits for its icon in the tray; the time in seconds, or nothing.
std::optional<double> StartToIcon(const Program& p, pid_t* pid_out) {
  auto t0 = Clock::now();
  pid_t pid = Spawn({p.binary});
  if (pid <= 0) return std::nullopt;
  auto until = t0 + std::chrono::seconds(10);
  while (Clock::now() < until) {
    if (g_display->FindViewable(p.wm_class, true)) {
      double s = std::chrono::duration<double>(Clock::now() - t0).count();
      if (pid_out)
        *pid_out = pid;
      else
        Stop(pid);
      return s;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  Stop(pid);
  return std::nullopt;
}

std::map<std::string, double> g_median_ms, g_rss_mb, g_wakeups;

Program QuorvelProgram(Sandbox& box) { return {"Quorvel", PrepareQuorvel(box), "Quorvel"}; }
Program BaselineProgram() { return {"baseline", TIDREX_TRAY_BASELINE, "tray_baseline"}; }

// The two programs take turns, so a change of the machine's load touches both alike.
void BM_StartToIcon_Paired(benchmark::State& state) {
  if (!g_display || !g_display->ok) {
    state.SkipWithError(g_display ? g_display->skip_reason.c_str() : "no display");
    return;
  }
  Sandbox box;
  Program programs[2] = {BaselineProgram(), QuorvelProgram(box)};
  std::vector<double> times[2];
  for (auto _ : state) {
    for (int i = 0; i < 2; ++i) {
      auto t = StartToIcon(programs[i], nullptr);
      if (!t) {
        state.SkipWithError("the icon never showed");
        return;
      }
      times[i].push_back(*t * 1000);
      if (i == 1) state.SetIterationTime(*t);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the tray settles
    }
  }
  for (int i = 0; i < 2; ++i) {
    std::sort(times[i].begin(), times[i].end());
    g_median_ms[programs[i].label] = times[i][times[i].size() / 2];
  }
  state.counters["baseline_median_ms"] = g_median_ms["baseline"];
  state.counters["quorvel_median_ms"] = g_median_ms["Quorvel"];
}

void RunIdle(benchmark::State& state, bool quorvel) {
  if (!g_display || !g_display->ok) {
    state.SkipWithError(g_display ? g_display->skip_reason.c_str() : "no display");
    return;
  }
  Sandbox box;
  Program p = quorvel ? QuorvelProgram(box) : BaselineProgram();
  for (auto _ : state) {
    pid_t pid = -1;
    if (!StartToIcon(p, &pid)) {
      state.SkipWithError("the icon never showed");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long before = ContextSwitches(pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long wakeups = ContextSwitches(pid) - before;
    long rss_kb = ReadStatus(pid, "VmRSS:");
    Stop(pid);
    state.counters["rss_MB"] = rss_kb / 1024.0;
    state.counters["idle_wakeups_3s"] = double(wakeups);
    g_rss_mb[p.label] = rss_kb / 1024.0;
    g_wakeups[p.label] = double(wakeups);
  }
}

void BM_Idle_Quorvel(benchmark::State& s) { RunIdle(s, true); }
void BM_Idle_Baseline(benchmark::State& s) { RunIdle(s, false); }

BENCHMARK(BM_StartToIcon_Paired)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(25);
BENCHMARK(BM_Idle_Baseline)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Idle_Quorvel)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Display display;
  if (!display.Start()) std::fprintf(stderr, "skipped: %s\n", display.skip_reason.c_str());
  g_display = &display;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto ratio = [](std::map<std::string, double>& m) {
    return m.count("Quorvel") && m.count("baseline") && m["baseline"] > 0 ? m["Quorvel"] / m["baseline"] : -1.0;
  };
  if (!g_median_ms.empty())
    std::printf("start to icon, median: Quorvel %.1f ms, baseline %.1f ms, ratio %.2f (target <= 1.3)\n",
                g_median_ms["Quorvel"], g_median_ms["baseline"], ratio(g_median_ms));
  if (!g_rss_mb.empty())
    std::printf("idle RSS: Quorvel %.1f MB, baseline %.1f MB, ratio %.2f (target <= 1.3); "
                "idle wake-ups in 3 s: Quorvel %.0f, baseline %.0f (target 0)\n",
                g_rss_mb["Quorvel"], g_rss_mb["baseline"], ratio(g_rss_mb), g_wakeups["Quorvel"], g_wakeups["baseline"]);
  return 0;
}
