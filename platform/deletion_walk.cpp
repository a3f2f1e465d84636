#include "platform/deletion_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace tidrex::platform {
namespace {

// Descriptors one walker keeps open besides the caller's; deeper levels are closed and
// reached again through "..". Small enough for any open-file limit, large enough that an
// ordinary tree never needs a reopen.
constexpr std::size_t kOpenLevels = 24;

struct Look {
  bool ok = false;
  mode_t mode = 0;
  uid_t uid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  bool mount_root = false;
};

// statx tells a mount root even for a bind mount of the same filesystem, where the device
// number alone would not differ.
Look LookAt(int dir_fd, const char* name, int flags = 0) {
  Look l;
  struct statx sx;
  if (statx(dir_fd, name, flags | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO, &sx) != 0)
    return l;
  l.ok = true;
  l.mode = sx.stx_mode;
  l.uid = sx.stx_uid;
  l.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  l.ino = sx.stx_ino;
  l.mount_root = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  return l;
}

Look LookAtFd(int fd) { return LookAt(fd, "", AT_EMPTY_PATH); }

bool ReadOnly(mode_t mode) { return !S_ISLNK(mode) && (mode & S_IWUSR) == 0; }

struct Item {
  std::string name;
  unsigned char type;  // the d_type hint; DT_DIR for a folder in a sorted listing
};

bool IsDotOrDotDot(const char* n) { return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)); }

// The entries of an open folder. Sorted: files first, then folders, each in byte order.
bool List(int fd, bool sorted, std::vector<Item>& items) {
  int dup_fd = dup(fd);
  DIR* d = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
  if (!d) {
    if (dup_fd >= 0) close(dup_fd);
    return false;
  }
  bool ok = true;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (!e) {
      ok = errno == 0;
      break;
    }
    if (IsDotOrDotDot(e->d_name)) continue;
    unsigned char type = e->d_type;
    if (sorted && type == DT_UNKNOWN) {
      Look l = LookAt(fd, e->d_name);
      type = l.ok && S_ISDIR(l.mode) ? DT_DIR : DT_REG;
    }
    items.push_back({e->d_name, type});
  }
  closedir(d);
  if (sorted)
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
      if ((a.type == DT_DIR) != (b.type == DT_DIR)) return b.type == DT_DIR;
      return a.name < b.name;
    });
  return ok;
}

// Adds the owner's write and search bits to a folder the running user owns.
bool OpenUp(int fd) {
  Look l = LookAtFd(fd);
  if (!l.ok || l.uid != geteuid() || !S_ISDIR(l.mode)) return false;
  if ((l.mode & (S_IWUSR | S_IXUSR)) == (S_IWUSR | S_IXUSR)) return false;  // not the cause
  return fchmod(fd, (l.mode & 07777) | S_IWUSR | S_IXUSR) == 0;
}

struct Shared {
  const DeletionRules& rules;
  int top_fd;
  dev_t dev;
  std::atomic<std::size_t> left{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> ended_early{false};
  std::atomic<bool> top_opened_up{false};
};

// One thread's depth-first walk below the top folder.
class Walker {
 public:
  explicit Walker(Shared& s) : s_(s) {}
  ~Walker() {
    for (Level& l : stack_)
      if (l.fd >= 0) close(l.fd);
  }

  // Deals with one entry of the top folder.
  void Top(const Item& item, const Selection& which) {
    Entry(s_.top_fd, /*level=*/-1, item, which.kind == Selection::Kind::kFolder ? &which : nullptr);
    Run();
  }

 private:
  struct Level {
    int fd;
    dev_t dev;
    ino_t ino;
    std::string name;  // in the folder above
    std::vector<Item> items;
    std::size_t next = 0;
    bool opened_up = false;
  };

  void Fail(bool ends_walk = false) {
    ++s_.left;
    if (ends_walk || s_.rules.stop_at_failure) {
      s_.ended_early = true;
      s_.stop = true;
    }
  }

  // The folder holding the current entry may be opened up: below the top always, the top
  // only when it is the named folder.
  bool MayOpenUp(int level) const { return level >= 0 || s_.rules.open_up_top; }

  bool OpenUpLevel(int dir_fd, int level) {
    if (!s_.rules.forced || !MayOpenUp(level)) return false;
    if (level < 0) return !s_.top_opened_up.exchange(true) && OpenUp(dir_fd);
    Level& l = stack_[static_cast<std::size_t>(level)];
    if (l.opened_up) return false;
    l.opened_up = true;
    return OpenUp(dir_fd);
  }

  bool Unlink(int dir_fd, int level, const char* name) {
    if (unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT) return true;
    if (errno == EACCES && OpenUpLevel(dir_fd, level))
      return unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT;
    return false;
  }

  void Entry(int dir_fd, int level, const Item& item, const Selection* expected) {
    const char* name = item.name.c_str();
    const DeletionRules& r = s_.rules;
    // Files and links (a link goes as a link) with one call, when nothing must be looked at first.
    if (r.forced && !expected && item.type != DT_DIR && item.type != DT_UNKNOWN) {
      if (Unlink(dir_fd, level, name)) return;
      if (errno != EISDIR && errno != EPERM) return Fail();
    }
    Look l = LookAt(dir_fd, name);
    if (!l.ok) {
      if (errno != ENOENT) Fail();
      return;
    }
    if (expected && (!S_ISDIR(l.mode) || l.dev != expected->dev || l.ino != expected->ino)) return Fail();
    if (!S_ISDIR(l.mode)) {
      if (!r.forced && ReadOnly(l.mode)) return Fail();
      if (!Unlink(dir_fd, level, name)) Fail();
      return;
    }
    // Another filesystem mounted here is not ours to empty: it stays standing. A files-only
    // walk does not see it at all.
    if (l.dev != s_.dev || l.mount_root) {
      if (r.folders) Fail();
      return;
    }
    if (!r.forced && ReadOnly(l.mode)) return Fail();
    Descend(dir_fd, item.name, l);
  }

  void Descend(int dir_fd, const std::string& name, const Look& looked) {
    int fd = openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return;
      // A folder that cannot be listed ends a files-only walk, as a failed listing does.
      return Fail(!s_.rules.folders);
    }
    Look opened = LookAtFd(fd);
    // Swapped for another folder between the look and the open: not the one we meant.
    if (!opened.ok || opened.dev != looked.dev || opened.ino != looked.ino) {
      close(fd);
      if (!s_.rules.folders) return;  // gone as far as the walk is concerned
      return Fail();
    }
    Level l{fd, opened.dev, opened.ino, name, {}, 0, false};
    if (!List(fd, s_.rules.sorted, l.items)) {
      close(fd);
      return Fail(!s_.rules.folders);
    }
    stack_.push_back(std::move(l));
    if (stack_.size() - first_open_ > kOpenLevels) {
      // The oldest open level is closed; it is reached again through ".." later.
      Level& oldest = stack_[first_open_++];
      close(oldest.fd);
      oldest.fd = -1;
    }
  }

  void Run() {
    while (!stack_.empty()) {
      if (s_.stop) return;
      const int level = static_cast<int>(stack_.size()) - 1;
      Level& l = stack_.back();
      if (l.next < l.items.size()) {
        const Item item = std::move(l.items[l.next++]);
        Entry(l.fd, level, item, nullptr);
        continue;
      }
      if (!Leave()) return;
    }
  }

  // Finishes the deepest level: closes it and removes it from the folder above. False when
  // the folder above is no longer the one that was entered; the walk then stops.
  bool Leave() {
    Level done = std::move(stack_.back());
    stack_.pop_back();
    int parent_fd = s_.top_fd;
    if (!stack_.empty()) {
      Level& up = stack_.back();
      if (up.fd < 0) {
        up.fd = openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        first_open_ = stack_.size() - 1;
        Look l = up.fd >= 0 ? LookAtFd(up.fd) : Look{};
        if (!l.ok || l.dev != up.dev || l.ino != up.ino) {
          // Moved meanwhile: what is above is no longer known, so nothing more is done.
          close(done.fd);
          Fail(true);
          return false;
        }
      }
      parent_fd = up.fd;
    }
    close(done.fd);
    if (first_open_ > stack_.size()) first_open_ = stack_.size();
    if (!s_.rules.folders) return true;
    const int parent_level = static_cast<int>(stack_.size()) - 1;
    if (unlinkat(parent_fd, done.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
    if (errno == EACCES && OpenUpLevel(parent_fd, parent_level) &&
        (unlinkat(parent_fd, done.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT))
      return true;
    Fail();
    return true;
  }

  Shared& s_;
  std::vector<Level> stack_;
  std::size_t first_open_ = 0;  // the levels from here to the deepest are open
};

bool Selected(const Selection& which, const char* name) {
  switch (which.kind) {
    case Selection::Kind::kAll: return true;
    case Selection::Kind::kPattern: return WildcardMatch(which.text, name);
    default: return which.text == name;
  }
}

}  // namespace

DeletionResult DeleteInFolder(int top_fd, const Selection& which, const DeletionRules& rules) {
  DeletionResult result;
  Look top = LookAtFd(top_fd);
  if (!top.ok || !S_ISDIR(top.mode)) {
    result.ended_early = true;
    return result;
  }
  std::vector<Item> items;
  if (which.kind == Selection::Kind::kName || which.kind == Selection::Kind::kFolder) {
    if (which.text.empty() || which.text.find('/') != std::string::npos || IsDotOrDotDot(which.text.c_str())) {
      result.left = 1;
      result.ended_early = true;
      return result;
    }
    items.push_back({which.text, DT_UNKNOWN});
  } else if (!List(top_fd, rules.sorted, items)) {
    result.ended_early = true;
    return result;
  } else if (which.kind == Selection::Kind::kPattern) {
    std::erase_if(items, [&](const Item& i) { return !Selected(which, i.name.c_str()); });
  }

  Shared shared{rules, top_fd, top.dev};
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    Walker walker(shared);
    for (std::size_t i; !shared.stop && (i = next++) < items.size();) walker.Top(items[i], which);
  };
  std::vector<std::thread> helpers;
  const std::size_t threads = std::min<std::size_t>(rules.stop_at_failure ? 1 : rules.threads, items.size());
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (...) {
      break;  // no thread to spare: the others share it
    }
  }
  work();
  for (auto& t : helpers) t.join();
  result.left = shared.left;
  result.ended_early = shared.ended_early;
  return result;
}

bool RemoveFileAt(int dir_fd, const std::string& name, bool may_open_up) {
  if (name.empty() || name.find('/') != std::string::npos || IsDotOrDotDot(name.c_str())) return false;
  Look l = LookAt(dir_fd, name.c_str());
  if (!l.ok) return false;
  if (S_ISDIR(l.mode)) return false;
  if (unlinkat(dir_fd, name.c_str(), 0) == 0) return true;
  return errno == EACCES && may_open_up && OpenUp(dir_fd) && unlinkat(dir_fd, name.c_str(), 0) == 0;
}

}  // namespace tidrex::platform
