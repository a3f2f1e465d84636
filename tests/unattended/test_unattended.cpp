// `Quorvel a` end to end: the built program, copied into an application folder of its own,
// run with a sandboxed home, XDG folders and "Temp", without DISPLAY, WAYLAND_DISPLAY or
// DBUS_SESSION_BUS_ADDRESS, as cron and a systemd timer run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/internet_cache.h"
#include "tests/support/sandbox.h"

namespace tidrex {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;

std::string Le(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  return out;
}

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A Chromium simple-cache stream file: magic, version, key length, key hash, padding, key,
// then a body.
std::string ChromiumFile(const std::string& key, std::uint32_t version) {
  return Le(0xfcfb6d1ba7725c30ull, 8) + Le(version, 4) + Le(key.size(), 4) + Le(0x12345678, 4) + Le(0, 4) +
         key + "body of the entry";
}

// A Firefox cache2 entry, version 3: body, metadata (hash, one chunk hash, eight fields,
// key and NUL, one name/value pair), then the metadata's offset.
std::string FirefoxFile(const std::string& key) {
  const std::string body = "cached body";
  std::string meta = Be32(0xdeadbeef) + std::string("\x12\x34", 2);
  for (std::uint32_t field : {3u, 1u, 1700000000u, 1700000000u, 5u, 1900000000u,
                              static_cast<std::uint32_t>(key.size()), 0u})
    meta += Be32(field);
  meta += key + '\0' + "request-method" + '\0' + "GET" + '\0';
  return body + meta + Be32(static_cast<std::uint32_t>(body.size()));
}

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Runs the program with exactly `env`, collecting what it prints; kills it after a minute.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  Outcome out;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return out;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    return out;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  for (;;) {
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (poll(&p, 1, 1000) > 0) {
      ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      out.output.append(buffer, static_cast<std::size_t>(n));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return out;
}

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = box.AppFolder() + "Quorvel";
    fs::copy_file(TIDREX_PROGRAM, program_, fs::copy_options::overwrite_existing);
    chmod(program_.c_str(), 0755);
  }

  std::string P(const std::string& rel) const { return box.Path(rel); }
  void File(const std::string& rel, const std::string& content = "x") { Sandbox::WriteFile(P(rel), content); }
  bool Exists(const std::string& rel) const { return Sandbox::Exists(P(rel)); }

  // The environment cron gives a job, pointed at the sandbox; nothing of a desktop session.
  // A window system the program tried to reach would fail loudly on this platform name.
  std::vector<std::string> Environment() const {
    return {"HOME=" + box.Home(),
            "XDG_CONFIG_HOME=" + P("home/.config"),
            "XDG_CACHE_HOME=" + P("home/.cache"),
            "XDG_DATA_HOME=" + P("home/.local/share"),
            "Temp=" + box.TempDir(),
            "PATH=/usr/bin:/bin",
            "SHELL=/bin/sh",
            "LOGNAME=tidrex",
            "QT_QPA_PLATFORM=tidrex-no-window-system"};
  }

  Outcome RunAuto(const std::string& letter = "a") { return RunProgram(program_, {program_, letter}, Environment()); }

  // Chromium's Default profile with one file per key (and a range companion where asked).
  std::string Chromium(const std::string& key, bool sparse = false) {
    const std::string dir = "home/.cache/chromium/Default/Cache/Cache_Data/";
    const std::string hash = platform::ChromiumEntryHash(key);
    File(dir + hash + "_0", ChromiumFile(key, 5));
    if (sparse) File(dir + hash + "_s", ChromiumFile(key, 9));
    return dir + hash;
  }
  std::string Firefox(const std::string& key) {
    const std::string file = "home/.cache/mozilla/firefox/t1.default-esr/cache2/entries/" + platform::FirefoxEntryHash(key);
    File(file, FirefoxFile(key));
    return file;
  }
  void Browsers() {
    Sandbox::MakeDirs(P("home/.config/chromium/Default"));
    Sandbox::MakeDirs(P("home/.mozilla/firefox/t1.default-esr"));
    File("home/.mozilla/firefox/profiles.ini",
         "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default-esr\nIsRelative=1\nPath=t1.default-esr\n");
  }

  Sandbox box;
  std::string program_;
};

TEST_F(UnattendedTest, CleansEverySwitchedOnCategorySilently) {
  Browsers();
  File("temp/a.tmp");
  File("temp/.hidden");
  File("temp/sub/deeper/b.tmp");
  File("userdir/old/report.txt");
  File("userdir/.cache");
  File("outside/keep", "keep");
  ASSERT_EQ(symlink(P("outside").c_str(), P("temp/link").c_str()), 0);

  const std::string kept_plain = Chromium("1/0/https://kept.test/style.css");
  const std::string kept_partitioned = Chromium("1/0/_dk_https://site.test https://site.test https://kept.test/style.css");
  const std::string gone = Chromium("1/0/https://gone.test/app.js", /*sparse=*/true);
  const std::string gone_post = Chromium("1/7/https://gone.test/api");
  const std::string ff_kept = Firefox("O^partitionKey=%28https%2Csite.test%29,:https://kept.test/style.css");
  const std::string ff_gone = Firefox("a,:https://ff-gone.test/image.png");

  File("app/Clean.ini",
       "[Delete]\nUser=Yes\nTemp=Yes\nTemporary Internet Files=Yes\n"
       "[User]\nsFile0=" + P("userdir") + "\n"
       "[Internet]\nsFile0=https://kept.test/style.css\n");
  const std::string ini_before = Sandbox::ReadFile(P("app/Clean.ini"));

  const Outcome outcome = RunAuto();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");

  EXPECT_TRUE(fs::is_directory(box.TempDir()));
  EXPECT_TRUE(fs::is_empty(box.TempDir()));
  EXPECT_TRUE(fs::is_directory(P("userdir")));
  EXPECT_TRUE(fs::is_empty(P("userdir")));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/keep")), "keep");

  EXPECT_TRUE(Exists(kept_plain + "_0"));
  EXPECT_TRUE(Exists(kept_partitioned + "_0"));
  EXPECT_TRUE(Exists(ff_kept));
  EXPECT_FALSE(Exists(gone + "_0"));
  EXPECT_FALSE(Exists(gone + "_s"));
  EXPECT_FALSE(Exists(gone_post + "_0"));
  EXPECT_FALSE(Exists(ff_gone));

  EXPECT_EQ(Sandbox::ReadFile(P("app/Clean.ini")), ini_before) << "the unattended run writes nothing";
  EXPECT_TRUE(Exists("app/Quorvel"));
}

TEST_F(UnattendedTest, UpperCaseLetterAndSwitchedOffCategories) {
  Browsers();
  File("temp/a.tmp");
  File("userdir/u.txt");
  const std::string entry = Chromium("1/0/https://gone.test/app.js");
  File("app/Clean.ini", "[Delete]\nUser=No\nTemp=Yes\nTemporary Internet Files=yes\n[User]\nsFile0=" +
                            P("userdir") + "\n");
  const Outcome outcome = RunAuto("A");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_FALSE(Exists("temp/a.tmp"));
  EXPECT_TRUE(Exists("userdir/u.txt"));
  EXPECT_TRUE(Exists(entry + "_0")) << "\"yes\" is not \"Yes\"";
}

TEST_F(UnattendedTest, NothingSwitchedOnOrNoConfigurationEndsAtOnce) {
  File("temp/a.tmp");
  Outcome outcome = RunAuto();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_FALSE(Exists("app/Clean.ini")) << "no file is created";
  EXPECT_TRUE(Exists("temp/a.tmp"));

  File("app/Clean.ini", "[Delete]\nUser=No\nTemp=No\nTemporary Internet Files=No\n");
  outcome = RunAuto();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_TRUE(Exists("temp/a.tmp"));
}

TEST_F(UnattendedTest, RefusedFoldersAreLeftAlone) {
  // "Temp" pointing at home and the user folder at the application folder: neither emptied.
  File("home/Documents/thesis.odt", "keep");
  File("app/Clean.ini", "[Delete]\nUser=Yes\nTemp=Yes\n[User]\nsFile0=" + box.AppFolder() + "\n");
  std::vector<std::string> env = Environment();
  for (auto& e : env)
    if (e.rfind("Temp=", 0) == 0) e = "Temp=" + box.Home();
  const Outcome outcome = RunProgram(program_, {program_, "a"}, env);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(Sandbox::ReadFile(P("home/Documents/thesis.odt")), "keep");
  EXPECT_TRUE(Exists("app/Quorvel"));
  EXPECT_TRUE(Exists("app/Clean.ini"));
}

}  // namespace
}  // namespace tidrex
