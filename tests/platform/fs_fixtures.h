// File-system fixtures for the deletion tests: trees built in a sandbox, running a piece of
// a test as an unprivileged user, so that permissions really refuse (root passes every
// permission check the tests are about), a scratch filesystem mounted inside a sandbox, and
// processes that hold locks or get killed mid-write.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

#include "tests/support/sandbox.h"

namespace tidrex::testing {

// A sandbox with helpers that name its entries relative to its root.
template <class Base = ::testing::Test>
class SandboxFixture : public Base {
 protected:
  std::string P(const std::string& rel) const { return box.Path(rel); }
  void File(const std::string& rel, const std::string& content = "x") { Sandbox::WriteFile(P(rel), content); }
  void Dir(const std::string& rel) { Sandbox::MakeDirs(P(rel)); }
  bool Exists(const std::string& rel) const { return Sandbox::Exists(P(rel)); }
  void Link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(symlink(target.c_str(), P(rel).c_str()), 0) << rel;
  }

  Sandbox box;
};

// Everything below `root`, relative, links not followed.
inline std::set<std::string> Listing(const std::string& root) {
  namespace fs = std::filesystem;
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    out.insert(fs::relative(it->path(), root).string());
  return out;
}

inline constexpr uid_t kNobody = 65534;

// Hands every entry below `root` (links included, not followed) to nobody, when we are root.
inline bool GiveTreeToNobody(const std::string& root) {
  if (geteuid() != 0) return true;
  auto give = [](const char* path, const struct stat*, int, struct FTW*) {
    return lchown(path, kNobody, kNobody) == 0 ? 0 : 1;
  };
  return nftw(root.c_str(), give, 32, FTW_PHYS) == 0;
}

// The exit status of `body` run in a child process without root's privileges, or -1 when
// they could not be dropped. The child never returns into the test framework.
inline int RunUnprivileged(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
          setresuid(kNobody, kNobody, kNobody) != 0)
        _exit(250);
    }
    _exit(body());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
  return WEXITSTATUS(status) == 250 ? -1 : WEXITSTATUS(status);
}

// A small tmpfs mounted at a folder for the lifetime of the object. Mounted() is false when
// the system does not let us mount (not root, no CAP_SYS_ADMIN): the test then skips.
class ScratchMount {
 public:
  explicit ScratchMount(const std::string& folder) : folder_(folder) {
    mkdir(folder.c_str(), 0755);
    mounted_ = mount("tidrex-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m") == 0;
  }
  ~ScratchMount() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// A child process that holds an fcntl write lock on a file until it is killed, the way a
// running Firefox holds its profile's .parentlock; or a flock, the way a writer holds its
// temporary file.
class LockHolder {
 public:
  enum Kind { kFcntl, kFlock };
  explicit LockHolder(const std::string& path, Kind kind = kFcntl) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      char ok = (fd >= 0 && (kind == kFlock ? ::flock(fd, LOCK_EX) : ::fcntl(fd, F_SETLK, &lock)) == 0) ? '1' : '0';
      (void)!::write(ready[1], &ok, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = '0';
    (void)!::read(ready[0], &ok, 1);
    ::close(ready[0]);
    if (ok != '1') throw std::runtime_error("could not lock " + path);
  }
  ~LockHolder() { Release(); }
  void Release() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// `rounds` times: a child runs `write` over and over and is killed after a random moment,
// then `check` looks at what it left. Stops at the first failure.
inline void KillWritersRepeatedly(int rounds, const std::function<void()>& write,
                                  const std::function<void(int round)>& check) {
  std::mt19937 random(12345);
  for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
      for (;;) write();
    usleep(std::uniform_int_distribution<useconds_t>(200, 15000)(random));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    check(round);
  }
}

// A folder on a memory filesystem when there is one, else in a sandbox: for tests about
// locks, not disks, where each write's two flushes to a real disk would take seconds.
class QuickFolder {
 public:
  QuickFolder() {
    struct statfs fs {};
    std::string tmpl = "/dev/shm/tidrex-test-XXXXXX";
    if (statfs("/dev/shm", &fs) == 0 && fs.f_type == 0x01021994 /* TMPFS_MAGIC */ && mkdtemp(tmpl.data())) {
      path_ = tmpl;
      on_memory_ = true;
    } else {
      path_ = box_.Path("quick");
      Sandbox::MakeDirs(path_);
    }
  }
  ~QuickFolder() {
    if (on_memory_) std::filesystem::remove_all(path_);
  }
  QuickFolder(const QuickFolder&) = delete;
  QuickFolder& operator=(const QuickFolder&) = delete;
  const std::string& Path() const { return path_; }
  bool OnMemory() const { return on_memory_; }

 private:
  Sandbox box_;
  std::string path_;
  bool on_memory_ = false;
};

// How many times the file at `path` was opened, by any process, while `body` ran.
inline int OpensOf(const std::string& path, const std::function<void()>& body) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  // Closes are watched too: the kernel merges an event into an equal one just before it, so
  // back-to-back opens would count once.
  if (fd < 0 || inotify_add_watch(fd, folder.c_str(), IN_OPEN | IN_CLOSE) < 0) throw std::runtime_error("inotify");
  body();
  int opens = 0;
  alignas(inotify_event) char buffer[64 * 1024];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
    for (char* p = buffer; p < buffer + n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      if ((e->mask & IN_OPEN) && e->len && name == e->name) ++opens;
      p += sizeof(inotify_event) + e->len;
    }
  ::close(fd);
  return opens;
}

}  // namespace tidrex::testing
