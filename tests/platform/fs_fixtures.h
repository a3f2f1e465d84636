// File-system fixtures for the deletion tests: running a piece of a test as an
// unprivileged user, so that permissions really refuse (root passes every permission check
// the tests are about), and a scratch filesystem mounted inside a sandbox.
#pragma once

#include <ftw.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace tidrex::testing {

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

}  // namespace tidrex::testing
