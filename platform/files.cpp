#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <climits>
#include <deque>
#include <fstream>
#include <sstream>

#include "platform/cookie_folder.h"
#include "platform/deletion_walk.h"
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

std::vector<std::string> ReadNames(int dirfd) {
  std::vector<std::string> names;
  int dup_fd = dup(dirfd);
  if (dup_fd < 0) return names;
  DIR* d = fdopendir(dup_fd);
  if (!d) {
    close(dup_fd);
    return names;
  }
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  closedir(d);
  return names;
}

std::optional<FolderIdentity> IdentityOfFd(int fd, uid_t* owner = nullptr) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  if (owner) *owner = st.st_uid;
  return FolderIdentity{st.st_dev, st.st_ino};
}

std::vector<FolderIdentity> ChainOfFd(int fd) {
  std::vector<FolderIdentity> chain;
  int cur = dup(fd);
  // PATH_MAX bounds how deep a folder anybody could name sits.
  for (int depth = 0; cur >= 0 && depth < PATH_MAX; ++depth) {
    auto id = IdentityOfFd(cur);
    if (!id) break;
    if (!chain.empty() && chain.back() == *id) {  // ".." of the root is the root
      close(cur);
      return chain;
    }
    chain.push_back(*id);
    int up = openat(cur, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    close(cur);
    cur = up;
  }
  if (cur >= 0) close(cur);
  return {};
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
    if (WildcardMatch(name, entry)) {
      found = true;
      break;
    }
  close(fd);
  return found;
}

namespace {

size_t DeleteOnDisk(const std::string& raw, unsigned threads) {
  if (raw.empty() || raw[0] != '/') return 0;
  std::string path = raw;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/") return 1;  // the root itself is never deleted
  std::string dir, name;
  SplitLast(path, dir, name);
  if (name == "." || name == "..") return 1;
  auto folder = OpenNamedFolder(dir);
  if (!folder) return 0;
  DeletionRules rules;
  rules.threads = threads;
  const Selection which = HasWildcard(name) ? Selection::Pattern(name) : Selection::Name(name);
  return DeleteInFolder(folder->fd(), which, rules).left;
}

}  // namespace

size_t DeletePaths(const std::vector<std::string>& paths, unsigned threads) {
  std::vector<std::string> on_disk = paths;
  size_t left = DeletePathsOffDisk(on_disk);
  for (const std::string& path : on_disk) left += DeleteOnDisk(path, threads);
  return left;
}

size_t DeletePath(const std::string& path, unsigned threads) { return DeletePaths({path}, threads); }

NamedFolder::~NamedFolder() {
  if (fd_ >= 0) close(fd_);
}

std::vector<FolderIdentity> NamedFolder::Chain() const { return ChainOfFd(fd_); }

std::optional<NamedFolder> OpenNamedFolder(const std::string& path, NamedFolderError* why) {
  NamedFolderError ignored;
  NamedFolderError& error = why ? *why : ignored;
  error = NamedFolderError::kMissing;
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return std::nullopt;
  // What is left to resolve, as components; a link's target is put in front of it.
  std::deque<std::string> rest;
  auto push_front_components = [&rest](const std::string& text) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= text.size()) {
      std::size_t j = text.find('/', i);
      if (j == std::string::npos) j = text.size();
      if (j > i) parts.push_back(text.substr(i, j - i));
      i = j + 1;
    }
    rest.insert(rest.begin(), parts.begin(), parts.end());
  };
  push_front_components(path);
  int cur = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  int links = 0;
  const uid_t me = geteuid();
  while (cur >= 0 && !rest.empty()) {
    const std::string part = std::move(rest.front());
    rest.pop_front();
    if (part == ".") continue;
    struct stat st;
    if (part != ".." && fstatat(cur, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      if (st.st_uid != me && st.st_uid != 0) {
        error = NamedFolderError::kForeignLink;
        close(cur);
        return std::nullopt;
      }
      std::string target(PATH_MAX, '\0');
      ssize_t n = readlinkat(cur, part.c_str(), target.data(), target.size());
      if (n <= 0 || n >= static_cast<ssize_t>(target.size()) || ++links > 40) break;
      target.resize(static_cast<std::size_t>(n));
      push_front_components(target);
      if (target[0] == '/') {
        close(cur);
        cur = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
      }
      continue;
    }
    int next = openat(cur, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOTDIR) error = NamedFolderError::kNotAFolder;
    close(cur);
    cur = next;
  }
  if (cur < 0 || !rest.empty()) {
    if (cur >= 0) close(cur);
    return std::nullopt;
  }
  int fd = openat(cur, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  close(cur);
  if (fd < 0) return std::nullopt;
  uid_t owner = 0;
  auto id = IdentityOfFd(fd, &owner);
  if (!id) {
    close(fd);
    return std::nullopt;
  }
  error = NamedFolderError::kNone;
  return NamedFolder(fd, *id, owner);
}

std::optional<FolderIdentity> IdentityOf(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FolderIdentity{st.st_dev, st.st_ino};
}

std::vector<FolderIdentity> ChainOf(const std::string& path) {
  if (path.empty()) return {};
  int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  auto chain = ChainOfFd(fd);
  close(fd);
  return chain;
}

}  // namespace tidrex::platform
