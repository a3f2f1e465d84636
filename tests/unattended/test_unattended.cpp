// `Quorvel a` end to end: the built program, copied into an application folder of its own,
// run with a sandboxed home, XDG folders and "Temp", without DISPLAY, WAYLAND_DISPLAY or
// DBUS_SESSION_BUS_ADDRESS, as cron and a systemd timer run it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/fs_fixtures.h"
#include "tests/support/cache_fixtures.h"

namespace tidrex {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;
namespace fx = tidrex::testing;

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together
};

class UnattendedTest : public testing::SandboxFixture<> {
 protected:
  void SetUp() override {
    program_ = box.AppFolder() + "Quorvel";
    fs::copy_file(TIDREX_PROGRAM, program_, fs::copy_options::overwrite_existing);
    chmod(program_.c_str(), 0755);
    chromium_ = fx::MakeChromiumProfile(box);
    firefox_ = fx::MakeFirefoxProfile(box);
  }

  // Runs the program with the environment cron gives a job, pointed at the sandbox; nothing
  // of a desktop session. A window system the program tried to reach would fail loudly on
  // this platform name. Killed after a minute.
  Outcome RunAuto(const std::string& letter = "a", const std::string& temp = "") {
    const std::string command =
        "timeout -s KILL 60 env -i HOME=" + box.Home() + " XDG_CONFIG_HOME=" + P("home/.config") +
        " XDG_CACHE_HOME=" + P("home/.cache") + " XDG_DATA_HOME=" + P("home/.local/share") +
        " Temp=" + (temp.empty() ? box.TempDir() : temp) +
        " PATH=/usr/bin:/bin SHELL=/bin/sh LOGNAME=tidrex QT_QPA_PLATFORM=tidrex-no-window-system " + program_ +
        " " + letter + " 2>&1 </dev/null";
    Outcome out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.output.append(buffer, n);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
  }

  std::string program_, chromium_, firefox_;
};

TEST_F(UnattendedTest, CleansEverySwitchedOnCategorySilently) {
  File("temp/a.tmp");
  File("temp/.hidden");
  File("temp/sub/deeper/b.tmp");
  File("userdir/old/report.txt");
  File("userdir/.cache");
  File("outside/keep", "keep");
  Link(P("outside"), "temp/link");

  const std::string kept_plain = fx::WriteChromiumEntry(chromium_, "1/0/https://kept.test/style.css");
  const std::string kept_partitioned =
      fx::WriteChromiumEntry(chromium_, "1/0/_dk_https://site.test https://site.test https://kept.test/style.css");
  const std::string gone = fx::WriteChromiumEntry(chromium_, "1/0/https://gone.test/app.js");
  const std::string gone_range = fx::WriteChromiumSparse(chromium_, "1/0/https://gone.test/app.js");
  const std::string gone_post = fx::WriteChromiumEntry(chromium_, "1/7/https://gone.test/api");
  const std::string ff_kept =
      fx::WriteFirefoxEntry(firefox_, "O^partitionKey=%28https%2Csite.test%29,:https://kept.test/style.css");
  const std::string ff_gone = fx::WriteFirefoxEntry(firefox_, "a,:https://ff-gone.test/image.png");

  File("app/Clean.ini",
       "[Delete]\nUser=Yes\nTemp=Yes\nTemporary Internet Files=Yes\n"
       "[User]\nsFile0=" + P("userdir") + "\n"
       "[Internet]\nsFile0=https://kept.test/style.css\n");
  const std::string ini_before = Sandbox::ReadFile(P("app/Clean.ini"));

  Outcome outcome;
  // Three switches, the user folder and the keep list, from one reading.
  EXPECT_EQ(fx::OpensOf(P("app/Clean.ini"), [&] { outcome = RunAuto(); }), 1);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_TRUE(fs::is_directory(box.TempDir()));
  EXPECT_TRUE(fs::is_empty(box.TempDir()));
  EXPECT_TRUE(fs::is_directory(P("userdir")));
  EXPECT_TRUE(fs::is_empty(P("userdir")));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/keep")), "keep");
  for (const auto& f : {kept_plain, kept_partitioned, ff_kept}) EXPECT_TRUE(Sandbox::Exists(f)) << f;
  for (const auto& f : {gone, gone_range, gone_post, ff_gone}) EXPECT_FALSE(Sandbox::Exists(f)) << f;
  EXPECT_EQ(Sandbox::ReadFile(P("app/Clean.ini")), ini_before) << "the unattended run writes nothing";
  EXPECT_TRUE(Exists("app/Quorvel"));
}

TEST_F(UnattendedTest, SwitchedOffOrMissingConfigurationAndAnUpperCaseLetter) {
  File("temp/a.tmp");
  File("userdir/u.txt");
  const std::string entry = fx::WriteChromiumEntry(chromium_, "1/0/https://gone.test/app.js");
  Outcome outcome = RunAuto();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_FALSE(Exists("app/Clean.ini")) << "no file is created";
  EXPECT_TRUE(Exists("temp/a.tmp"));

  File("app/Clean.ini", "[Delete]\nUser=No\nTemp=Yes\nTemporary Internet Files=yes\n[User]\nsFile0=" +
                            P("userdir") + "\n");
  outcome = RunAuto("A");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_FALSE(Exists("temp/a.tmp"));
  EXPECT_TRUE(Exists("userdir/u.txt"));
  EXPECT_TRUE(Sandbox::Exists(entry)) << "\"yes\" is not \"Yes\"";
}

// What cron meets when "Clean.ini" is a FIFO or a huge sparse file: the run ends at once,
// as without settings, and leaves the file as it was.
TEST_F(UnattendedTest, AFifoOrAHugeSparseSettingsFileEndsTheRunAtOnce) {
  File("temp/a.tmp");
  const std::string ini = P("app/Clean.ini");
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "100 GB sparse");
    if (fifo) {
      ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
    } else {
      unlink(ini.c_str());
      File("app/Clean.ini", "[Delete]\nTemp=Yes\n");
      ASSERT_EQ(truncate(ini.c_str(), off_t{100} << 30), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(ini.c_str(), &before), 0);
    const Outcome outcome = RunAuto();
    EXPECT_EQ(outcome.status, 0) << "-1: still running after a minute, killed";
    EXPECT_EQ(outcome.output, "");
    EXPECT_TRUE(Exists("temp/a.tmp")) << "no switch is read from it";
    struct stat after {};
    ASSERT_EQ(stat(ini.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  }
}

TEST_F(UnattendedTest, RefusedFoldersAreLeftAlone) {
  // "Temp" pointing at home and the user folder at the application folder: neither emptied.
  File("home/Documents/thesis.odt", "keep");
  File("app/Clean.ini", "[Delete]\nUser=Yes\nTemp=Yes\n[User]\nsFile0=" + box.AppFolder() + "\n");
  const Outcome outcome = RunAuto("a", box.Home());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(Sandbox::ReadFile(P("home/Documents/thesis.odt")), "keep");
  EXPECT_TRUE(Exists("app/Quorvel"));
  EXPECT_TRUE(Exists("app/Clean.ini"));
}

// Resident starts: what the program does before any window exists.
class ResidentStartTest : public UnattendedTest {
 protected:
  std::vector<std::string> Env(const std::vector<std::string>& extra) {
    std::vector<std::string> env{"HOME=" + box.Home(), "XDG_CONFIG_HOME=" + P("home/.config"),
                                 "XDG_CACHE_HOME=" + P("home/.cache"), "XDG_DATA_HOME=" + P("home/.local/share"),
                                 "XDG_RUNTIME_DIR=" + P("run"), "PATH=/usr/bin:/bin"};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }
  // Starts the program with exactly `env`; its output goes to `log`.
  pid_t Spawn(const std::vector<std::string>& env, const std::string& arg = "", const std::string& log = "/dev/null") {
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> e;
      for (const auto& v : env) e.push_back(const_cast<char*>(v.c_str()));
      e.push_back(nullptr);
      FILE* out = std::fopen(log.c_str(), "w");
      if (out) {
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
      }
      std::vector<char*> argv{const_cast<char*>(program_.c_str())};
      if (!arg.empty()) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execve(program_.c_str(), argv.data(), e.data());
      _exit(127);
    }
    spawned_.push_back(pid);
    return pid;
  }
  // Waits at most `seconds` for the program to end: its status, -1 when it still runs.
  int Wait(pid_t pid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(spawned_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    if (Wait(pid, 5) == -1) {
      kill(pid, SIGKILL);
      Wait(pid, 5);
    }
  }
  void TearDown() override {
    for (pid_t pid : std::vector<pid_t>(spawned_)) Stop(pid);
  }
  std::vector<pid_t> spawned_;
};

TEST_F(ResidentStartTest, WithoutADisplayItSaysSoAndEndsWithStatus1) {
  const std::string said =
      "Quorvel: the resident program needs a graphical session (X11 or Wayland); \"Quorvel a\" runs the "
      "unattended clean without one.\n";
  Sandbox::MakeDirs(P("run"));
  const std::vector<std::vector<std::string>> sessions = {
      {},                                              // an SSH session
      {"DISPLAY=:97"},                                 // a display nobody serves
      {"WAYLAND_DISPLAY=wayland-97"},                  // a Wayland socket that is not there
      {"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=x"},    // the chosen platform has no server
  };
  for (const auto& extra : sessions) {
    const pid_t pid = Spawn(Env(extra), "", P("out.txt"));
    EXPECT_EQ(Wait(pid, 20), 1) << "no core dump: " << (extra.empty() ? "" : extra[0]);
    EXPECT_EQ(Sandbox::ReadFile(P("out.txt")), said);
  }
  EXPECT_FALSE(Exists("home/.config/autostart/Tidrex.desktop")) << "nothing happens before the message";
  EXPECT_FALSE(Exists("app/Clean.ini"));
}

TEST_F(ResidentStartTest, ALaterStartInTheSameSessionHandsOverAndEnds) {
  File("app/Clean.ini", "[Delete]\nUser=No\nTemp=No\nTemporary Internet Files=No\n");
  Sandbox::MakeDirs(P("run"));
  chmod(P("run").c_str(), 0700);
  const auto session = Env({"QT_QPA_PLATFORM=offscreen", "DISPLAY=:55"});
  const pid_t first = Spawn(session, "", P("first.txt"));
  const std::string socket = P("run/Quorvel-x11-_55.sock");
  for (int i = 0; i < 500 && !Sandbox::Exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(Sandbox::Exists(socket)) << Sandbox::ReadFile(P("first.txt"));
  // The later start is answered and ends at once; the first one goes on.
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Wait(Spawn(session, "", P("second.txt")), 5), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(Sandbox::ReadFile(P("second.txt")), "");
  EXPECT_EQ(Wait(first, 0.2), -1);
  // The unattended clean never asks the running one.
  EXPECT_EQ(Wait(Spawn(session, "a"), 20), 0);
  // Another display of the same user is a session of its own.
  const pid_t other = Spawn(Env({"QT_QPA_PLATFORM=offscreen", "DISPLAY=:56.0"}));
  EXPECT_EQ(Wait(other, 1), -1);
  // ":55.0" is the session of ":55".
  EXPECT_EQ(Wait(Spawn(Env({"QT_QPA_PLATFORM=offscreen", "DISPLAY=:55.0"})), 5), 0);
  // Once the first has gone, its socket left behind, the next start is the instance.
  Stop(first);
  ASSERT_TRUE(Sandbox::Exists(socket));
  const pid_t next = Spawn(session);
  EXPECT_EQ(Wait(next, 1), -1);
  EXPECT_EQ(Wait(Spawn(session), 5), 0);
}

}  // namespace
}  // namespace tidrex
