#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/locations.h"
#include "platform/single_instance_internal.h"

namespace tidrex::platform {
namespace {

using Clock = std::chrono::steady_clock;

bool PrivateFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  *addr = {};
  if (path.size() >= sizeof addr->sun_path) return false;
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size());
  return true;
}

// Connects and waits for the running instance's answer.
bool AskRunningInstance(const std::string& socket_path, Clock::time_point deadline) {
  sockaddr_un addr;
  if (!FillAddress(socket_path, &addr)) return false;
  while (Clock::now() < deadline) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      std::string got;
      while (Clock::now() < deadline && got.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (poll(&p, 1, int(left > 0 ? left : 0)) <= 0) break;
        char buf[16];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, std::size_t(n));
      }
      close(fd);
      return got == "ok\n";
    }
    close(fd);
    // The first instance takes the lock a moment before it listens.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

namespace instance_detail {
int& LockFd() {
  static int fd = -1;
  return fd;
}
int& ListenFd() {
  static int fd = -1;
  return fd;
}
}  // namespace instance_detail

std::string InstanceFolder() {
  if (auto runtime = Environment("XDG_RUNTIME_DIR"); runtime && !runtime->empty() && (*runtime)[0] == '/' &&
                                                     PrivateFolder(*runtime))
    return *runtime;
  const std::string own = "/tmp/tidrex-" + std::to_string(geteuid());
  mkdir(own.c_str(), 0700);
  return PrivateFolder(own) ? own : std::string();
}

InstanceClaim ClaimInstance(const std::string& session, int timeout_ms) {
  using namespace instance_detail;
  const std::string folder = InstanceFolder();
  if (folder.empty()) return InstanceClaim::kFirst;
  const std::string base = folder + "/Quorvel-" + session;
  const int lock = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) return InstanceClaim::kFirst;
  if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    close(lock);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    return AskRunningInstance(base + ".sock", deadline) ? InstanceClaim::kHandedOver : InstanceClaim::kNoAnswer;
  }
  LockFd() = lock;
  // Holding the lock, any socket left behind is a dead instance's.
  const std::string socket_path = base + ".sock";
  sockaddr_un addr;
  if (!FillAddress(socket_path, &addr)) return InstanceClaim::kFirst;
  unlink(socket_path.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return InstanceClaim::kFirst;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return InstanceClaim::kFirst;
  }
  ListenFd() = fd;
  return InstanceClaim::kFirst;
}

}  // namespace tidrex::platform
