// Deleting a tree with several threads. Each folder is one task: its files are removed by
// the thread that reads it, its subfolders become tasks of their own, and the folder itself
// is removed by whichever thread finishes its last subfolder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace tidrex::platform {
namespace {

struct Folder {
  Folder(std::shared_ptr<Folder> p, std::string n, int f) : parent(std::move(p)), name(std::move(n)), fd(f) {}
  ~Folder() {
    if (fd >= 0) close(fd);
  }
  std::shared_ptr<Folder> parent;  // keeps the descriptor that `name` is relative to open
  std::string name;
  int fd;
  std::atomic<int> pending{1};  // its own reading, plus one per subfolder not yet removed
};

struct Task {
  std::shared_ptr<Folder> parent;
  std::string name;
  dev_t dev;
  ino_t ino;
};

struct EntryStat {
  bool ok = false;
  bool is_dir = false;
  bool mount_root = false;
  dev_t dev = 0;
  ino_t ino = 0;
};

EntryStat StatEntry(int dirfd, const char* name) {
  EntryStat e;
  struct statx sx;
  if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_INO, &sx) != 0)
    return e;
  e.ok = true;
  e.is_dir = S_ISDIR(sx.stx_mode);
  e.mount_root = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  e.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  e.ino = sx.stx_ino;
  return e;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

class ParallelDelete {
 public:
  explicit ParallelDelete(dev_t dev) : dev_(dev) {}

  // Removes `name` in `parent` now if it is not a folder, else queues it. Counts what stays.
  void Entry(const std::shared_ptr<Folder>& parent, const char* name, unsigned char type_hint) {
    if (type_hint != DT_DIR) {
      // Files and links (a link is removed as a link) go with one call.
      if (unlinkat(parent->fd, name, 0) == 0 || errno == ENOENT) return;
      if (errno != EISDIR && errno != EPERM) {
        ++left_;
        return;
      }
    }
    EntryStat st = StatEntry(parent->fd, name);
    if (!st.ok) {
      if (errno != ENOENT) ++left_;
      return;
    }
    if (!st.is_dir) {  // swapped for a file or link meanwhile: remove just that
      if (unlinkat(parent->fd, name, 0) != 0 && errno != ENOENT) ++left_;
      return;
    }
    // Another filesystem mounted here is not ours to empty: leave it standing.
    if (st.dev != dev_ || st.mount_root) {
      ++left_;
      return;
    }
    parent->pending.fetch_add(1);
    Push(Task{parent, name, st.dev, st.ino});
  }

  // Reads `folder` and deals with every entry, then drops its own share of `pending`.
  void Read(const std::shared_ptr<Folder>& folder) {
    int dup_fd = dup(folder->fd);
    DIR* d = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
    if (!d) {
      if (dup_fd >= 0) close(dup_fd);
      ++left_;
    } else {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        Entry(folder, e->d_name, e->d_type);
      }
      closedir(d);
    }
    Done(folder);
  }

  void Match(const std::shared_ptr<Folder>& top, const std::string& pattern) {
    int dup_fd = dup(top->fd);
    DIR* d = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
    if (!d) {
      if (dup_fd >= 0) close(dup_fd);
      return;
    }
    std::vector<std::pair<std::string, unsigned char>> names;
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (WildcardMatch(pattern, e->d_name)) names.emplace_back(e->d_name, e->d_type);
    }
    closedir(d);
    for (const auto& [name, type] : names) Entry(top, name.c_str(), type);
  }

  // Runs tasks until every queued folder is gone.
  void Work() {
    for (;;) {
      Task task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return !queue_.empty() || finished_; });
        if (queue_.empty()) return;
        task = std::move(queue_.back());  // deepest first keeps few folders open
        queue_.pop_back();
      }
      Open(task);
    }
  }

  // The top folder's own share: once every task under it is done, the workers stop.
  void Done(const std::shared_ptr<Folder>& folder) {
    std::shared_ptr<Folder> f = folder;
    while (f && f->pending.fetch_sub(1) == 1) {
      if (!f->parent) {  // the top folder stays
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        wake_.notify_all();
        return;
      }
      if (unlinkat(f->parent->fd, f->name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) ++left_;
      std::shared_ptr<Folder> up = f->parent;
      f = std::move(up);
    }
  }

  std::size_t Left() const { return left_.load(); }

 private:
  void Push(Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
    wake_.notify_one();
  }

  void Open(const Task& task) {
    int fd = openat(task.parent->fd, task.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened;
    // Swapped for another folder between the look and the open: not the one we meant.
    if (fd >= 0 && (fstat(fd, &opened) != 0 || opened.st_dev != task.dev || opened.st_ino != task.ino)) {
      close(fd);
      fd = -1;
      errno = EXDEV;
    }
    if (fd < 0) {
      if (errno != ENOENT) ++left_;
      Done(task.parent);
      return;
    }
    Read(std::make_shared<Folder>(task.parent, task.name, fd));
  }

  dev_t dev_;
  std::atomic<std::size_t> left_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Task> queue_;
  bool finished_ = false;
};

// Opens the folder part of an absolute path component by component, following no link.
int OpenFolderNoFollow(const std::string& dir) {
  int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  std::size_t i = 1;
  while (fd >= 0 && i < dir.size()) {
    std::size_t j = dir.find('/', i);
    if (j == std::string::npos) j = dir.size();
    const std::string part = dir.substr(i, j - i);
    i = j + 1;
    if (part.empty()) continue;
    int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  if (fd < 0) return -1;
  int reopened = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  close(fd);
  return reopened;
}

}  // namespace

std::size_t DeletePathParallel(const std::string& raw, unsigned threads) {
  if (raw.empty() || raw[0] != '/') return 0;
  std::string path = raw;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/") return 1;  // the root itself is never deleted
  const auto slash = path.rfind('/');
  const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  if (name == "." || name == "..") return 1;
  int fd = OpenFolderNoFollow(dir);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return 1;
  }
  ParallelDelete work(st.st_dev);
  auto top = std::make_shared<Folder>(nullptr, "", fd);
  if (HasWildcard(name)) work.Match(top, name);
  else work.Entry(top, name.c_str(), DT_UNKNOWN);

  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back([&work] { work.Work(); });
    } catch (...) {
      break;  // no thread to spare: the caller does it alone
    }
  }
  work.Done(top);
  work.Work();
  for (auto& t : helpers) t.join();
  return work.Left();
}

}  // namespace tidrex::platform
