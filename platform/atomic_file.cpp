#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>

namespace tidrex::platform {
namespace {

constexpr time_t kStaleAfterSeconds = 60;

void SplitPath(const std::string& path, std::string& dir, std::string& base) {
  const std::size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTemporaryName(const std::string& name, const std::string& prefix) {
  // mkstemp's six characters are letters and digits.
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// A writer holds a lock on its temporary file until it has renamed it; one that nobody holds
// and that has not changed for a minute belongs to a writer that was killed.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const int dfd = dirfd(d);
  const time_t now = time(nullptr);
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (!IsTemporaryName(name, prefix)) continue;
    int fd = openat(dfd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
      fd = openat(dfd, name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {}, named {};
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && now - held.st_mtime > kStaleAfterSeconds &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
      unlinkat(dfd, name.c_str(), 0);
    close(fd);
  }
  closedir(d);
}

bool WriteAll(int fd, const std::string& contents) {
  for (std::size_t done = 0; done < contents.size();) {
    const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some filesystems cannot flush a folder; the file itself is on disk by now.
  fsync(fd);
  close(fd);
}

struct HeldLock {
  int fd = -1;
  int depth = 0;
};

std::map<std::string, HeldLock>& HeldLocks() {
  thread_local std::map<std::string, HeldLock> held;
  return held;
}

}  // namespace

bool MakeFolders(const std::string& folder, unsigned mode) {
  if (folder.empty()) return false;
  std::string path;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    std::size_t next = folder.find('/', pos + 1);
    path = folder.substr(0, next);
    pos = next;
    if (path.empty() || path == "/") continue;
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode) {
  std::string target = path;
  struct stat st {};
  bool existed = lstat(path.c_str(), &st) == 0;
  if (existed && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return false;
    target = resolved;
    existed = stat(target.c_str(), &st) == 0;
  }
  if (existed && !S_ISREG(st.st_mode)) return false;

  std::string dir, base;
  SplitPath(target, dir, base);
  if (base.empty()) return false;
  const std::string prefix = "." + base + ".";
  RemoveStaleTemporaries(dir, prefix);

  std::string tmp = (dir == "/" ? "" : dir) + "/" + prefix + "XXXXXX";
  const int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // Held until the rename: the sign that this temporary file is not a leftover.
  flock(fd, LOCK_EX | LOCK_NB);
  mode_t bits;
  if (existed) {
    bits = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    bits = mode & 07777 & ~mask;
  }
  bool ok = fchmod(fd, bits) == 0;
  // Keep the owner when root rewrites a user's file; not worth losing the write over.
  if (existed && ok && geteuid() == 0) {
    [[maybe_unused]] const int ignored = fchown(fd, st.st_uid, st.st_gid);
  }
  ok = ok && WriteAll(fd, contents);
  ok = ok && fsync(fd) == 0;
  ok = ok && rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  close(fd);
  if (ok) SyncFolder(dir);
  return ok;
}

UpdateLock::UpdateLock(const std::string& path) {
  std::string dir, base;
  SplitPath(path, dir, base);
  lock_path_ = (dir == "/" ? "" : dir) + "/." + base + ".lock";
  auto& held = HeldLocks();
  if (auto it = held.find(lock_path_); it != held.end()) {
    ++it->second.depth;
    held_ = true;
    return;
  }
  for (;;) {
    const int fd = open(lock_path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct stat mine {};
    // Readable for every process that may write the file, whatever the creator's umask.
    if (fstat(fd, &mine) == 0 && mine.st_uid == geteuid() && (mine.st_mode & 0777) != 0644) fchmod(fd, 0644);
    int r;
    while ((r = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat named {};
    // The previous holder may have removed the file while this process waited on it: the
    // lock counts only on the file that the name still stands for.
    if (r == 0 && fstat(fd, &mine) == 0 && lstat(lock_path_.c_str(), &named) == 0 &&
        named.st_dev == mine.st_dev && named.st_ino == mine.st_ino) {
      held.emplace(lock_path_, HeldLock{fd, 1});
      held_ = true;
      return;
    }
    close(fd);
    if (r != 0) return;
  }
}

UpdateLock::~UpdateLock() {
  if (!held_) return;
  auto& held = HeldLocks();
  auto it = held.find(lock_path_);
  if (it == held.end() || --it->second.depth > 0) return;
  // Removed while still held, so that no other process can take the lock on a file that is
  // about to vanish.
  unlink(lock_path_.c_str());
  close(it->second.fd);
  held.erase(it);
}

}  // namespace tidrex::platform
