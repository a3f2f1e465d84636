#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/cookie_store.h"
#include "platform/locations.h"

namespace tidrex::platform {
namespace {

// Mount points are written with octal escapes for blanks, tabs, newlines and backslashes.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
    if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      out += static_cast<char>(v);
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool IsUnder(const std::string& path, const std::string& mount_point) {
  if (mount_point == "/") return true;
  if (path.compare(0, mount_point.size(), mount_point) != 0) return false;
  return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

bool IsRemoteFs(const std::string& t) {
  static const char* const kRemote[] = {"nfs",   "nfs4",      "cifs",       "smb3",     "smbfs",
                                        "sshfs", "fuse.sshfs", "9p",        "afs",      "ceph",
                                        "glusterfs", "fuse.glusterfs", "davfs", "fuse.davfs2",
                                        "fuse.rclone", "ncpfs", "coda", "lustre", "gfs2", "ocfs2"};
  for (const char* r : kRemote)
    if (t == r) return true;
  return false;
}

bool ReadFlag(const std::string& path) {
  std::ifstream in(path);
  int v = 0;
  return (in >> v) && v == 1;
}

bool IsRemovableDevice(unsigned major, unsigned minor) {
  if (major == 0) return false;  // no block device behind the filesystem
  std::string dev = SysfsRoot() + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  // A partition reports nothing itself; its disk, the folder above, does.
  return ReadFlag(dev + "/removable") || ReadFlag(dev + "/../removable");
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

void SplitLast(const std::string& path, std::string& dir, std::string& name) {
  auto slash = path.rfind('/');
  dir = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
}

// Statistics of an entry without following it, with whether it is the root of a mount
// (this also catches bind mounts of the same filesystem, which share the device number).
bool StatEntry(int dirfd, const char* name, struct stat& st, bool& mount_root) {
  struct statx sx;
  mount_root = false;
  if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_INO, &sx) == 0) {
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    mount_root = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
  }
  return fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::pair<std::string, unsigned char>> ReadNames(int dirfd) {
  std::vector<std::pair<std::string, unsigned char>> names;
  int dup_fd = dup(dirfd);
  if (dup_fd < 0) return names;
  DIR* d = fdopendir(dup_fd);
  if (!d) {
    close(dup_fd);
    return names;
  }
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name, e->d_type);
  }
  closedir(d);
  return names;
}

size_t DeleteAt(int parentfd, const std::string& name, dev_t parent_dev, unsigned char type_hint);

// Deletes everything inside the open folder `fd`; returns what was left.
size_t EmptyOpenFolder(int fd, dev_t dev) {
  size_t left = 0;
  for (const auto& [name, type] : ReadNames(fd)) left += DeleteAt(fd, name, dev, type);
  return left;
}

size_t DeleteAt(int parentfd, const std::string& name, dev_t parent_dev, unsigned char type_hint) {
  if (type_hint != DT_DIR) {
    // Files and links (a link is removed as a link) go with one call.
    if (unlinkat(parentfd, name.c_str(), 0) == 0 || errno == ENOENT) return 0;
    if (errno != EISDIR && errno != EPERM) return 1;
  }
  struct stat st;
  bool mount_root = false;
  if (!StatEntry(parentfd, name.c_str(), st, mount_root)) return errno == ENOENT ? 0 : 1;
  if (!S_ISDIR(st.st_mode))  // a folder swapped for a link or file meanwhile: remove just that
    return unlinkat(parentfd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : 1;
  // Another filesystem mounted here is not ours to empty: leave it standing.
  if (st.st_dev != parent_dev || mount_root) return 1;
  int fd = openat(parentfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : 1;
  struct stat opened;
  // Swapped for another folder between the look and the open: not the one we meant.
  if (fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    close(fd);
    return 1;
  }
  size_t left = EmptyOpenFolder(fd, st.st_dev);
  close(fd);
  if (unlinkat(parentfd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) ++left;
  return left;
}

}  // namespace

std::vector<Mount> ListMounts() {
  std::vector<Mount> mounts;
  std::ifstream in(MountTablePath());
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional...] - fstype source super
    std::istringstream f(line);
    std::string id, parent, devno, root, point, options, field;
    if (!(f >> id >> parent >> devno >> root >> point >> options)) continue;
    while (f >> field && field != "-") {
    }
    Mount m;
    if (!(f >> m.fs_type)) continue;
    f >> m.source;
    m.mount_point = Unescape(point);
    if (auto colon = devno.find(':'); colon != std::string::npos) {
      m.major = static_cast<unsigned>(std::strtoul(devno.c_str(), nullptr, 10));
      m.minor = static_cast<unsigned>(std::strtoul(devno.c_str() + colon + 1, nullptr, 10));
    }
    mounts.push_back(std::move(m));
  }
  return mounts;
}

int DriveTypeOfPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return 1;
  const Mount* best = nullptr;
  auto mounts = ListMounts();
  // The last of several mounts on one point is the one in force.
  for (const auto& m : mounts)
    if (IsUnder(path, m.mount_point) && (!best || m.mount_point.size() >= best->mount_point.size()))
      best = &m;
  if (!best) return 1;
  const std::string& t = best->fs_type;
  if (t == "tmpfs" || t == "ramfs") return 6;
  if (t == "iso9660" || t == "udf") return 5;
  if (IsRemoteFs(t)) return 4;
  if (IsRemovableDevice(best->major, best->minor)) return 2;
  return 3;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool AnyEntryMatches(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  std::string dir, name;
  SplitLast(path, dir, name);
  if (name.empty()) return false;  // "folder/" names no entry, as a trailing separator on Windows
  if (!HasWildcard(name)) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool found = false;
  for (const auto& entry : ReadNames(fd))
    if (WildcardMatch(name, entry.first)) {
      found = true;
      break;
    }
  close(fd);
  return found;
}

size_t DeletePath(const std::string& raw) {
  // The cookie folder lives in the browsers' cookie stores, not on disk.
  if (IsCookieFolderPath(raw)) return DeleteCookieFolderPath(raw);
  if (raw.empty() || raw[0] != '/') return 0;
  std::string path = raw;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/") return 1;  // the root itself is never deleted
  std::string dir, name;
  SplitLast(path, dir, name);
  if (name == "." || name == "..") return 1;
  // The named folder is opened as named (links in the named path are the user's own words);
  // below it nothing is followed.
  int dirfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return 0;
  struct stat st;
  if (fstat(dirfd, &st) != 0) {
    close(dirfd);
    return 1;
  }
  size_t left = 0;
  if (HasWildcard(name)) {
    for (const auto& [entry, type] : ReadNames(dirfd))
      if (WildcardMatch(name, entry)) left += DeleteAt(dirfd, entry, st.st_dev, type);
  } else {
    left = DeleteAt(dirfd, name, st.st_dev, DT_UNKNOWN);
  }
  close(dirfd);
  return left;
}

}  // namespace tidrex::platform
