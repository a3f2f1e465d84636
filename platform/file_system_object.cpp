#include "platform/file_system_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/deletion_walk.h"
#include "platform/files.h"

namespace tidrex::platform {

struct FsoHandle {
  explicit FsoHandle(int f) : fd(f) {}
  ~FsoHandle() {
    if (fd >= 0) close(fd);
  }
  FsoHandle(const FsoHandle&) = delete;
  FsoHandle& operator=(const FsoHandle&) = delete;
  int fd;
};

namespace {

struct EntryInfo {
  bool ok = false;
  mode_t mode = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  bool mount_root = false;
};

// statx tells a mount root even for a bind mount of the same filesystem, where st_dev
// alone would not differ.
EntryInfo StatAt(int dir_fd, const char* name, int flags) {
  EntryInfo info;
  struct statx stx;
  if (statx(dir_fd, name, flags | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_MODE | STATX_INO, &stx) != 0)
    return info;
  info.ok = true;
  info.mode = stx.stx_mode;
  info.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  info.ino = stx.stx_ino;
  info.mount_root = (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                    (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  return info;
}

EntryInfo StatFd(int fd) { return StatAt(fd, "", AT_EMPTY_PATH); }

// The names in an open folder, sorted, without "." and "..". False when it cannot be read.
bool ReadNames(int dir_fd, std::vector<std::string>& names) {
  int fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  bool ok = true;
  for (;;) {
    errno = 0;
    dirent* e = readdir(dir);
    if (!e) {
      if (errno != 0) ok = false;
      break;
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return ok;
}

std::vector<std::string> SplitComponents(const std::string& normalized) {
  std::vector<std::string> parts;
  std::size_t i = 1;
  while (i < normalized.size()) {
    std::size_t j = normalized.find('/', i);
    if (j == std::string::npos) j = normalized.size();
    parts.push_back(normalized.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

// Opens the first `count` components of an absolute, normalised path without following
// a link; `flags` O_PATH, or the flags to reopen the last folder with.
int OpenNoFollow(const std::vector<std::string>& parts, std::size_t count, int flags) {
  int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t i = 0; fd >= 0 && i < count; ++i) {
    int next = openat(fd, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  if (fd >= 0 && flags != O_PATH) {
    int reopened = openat(fd, ".", flags | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = reopened;
  }
  return fd;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The deletion without force: a read-only item (its owner has no write bit, the stand-in
// for the read-only attribute) or any other failure ends it, leaving what was not reached.
bool DeleteFolderAt(int parent_fd, const std::string& name, dev_t dev, ino_t ino) {
  int fd = openat(parent_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  FsoHandle parent(fd);
  DeletionRules rules;
  rules.forced = false;
  rules.stop_at_failure = true;
  rules.sorted = true;
  return DeleteInFolder(fd, Selection::Folder(name, dev, ino), rules).left == 0;
}

}  // namespace

std::string NormalizePathText(const std::string& path) {
  if (path.empty()) return path;
  const bool absolute = path.front() == '/';
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (!absolute) parts.push_back(part);
      continue;
    }
    parts.push_back(std::move(part));
  }
  if (parts.empty()) return absolute ? std::string("/") : std::string(".");
  std::string out;
  for (const std::string& part : parts) {
    if (absolute || !out.empty()) out += '/';
    out += part;
  }
  return out;
}

bool FsoFile::Delete() const {
  if (!parent_) return false;
  int fd = openat(parent_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  FsoHandle dir(fd);
  return RemoveFileAt(fd, name_, /*may_open_up=*/false);
}

std::shared_ptr<const FsoHandle> FsoFolder::Open() const {
  if (self_) return self_;
  if (!parent_) return nullptr;
  int fd = openat(parent_->fd, name_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto handle = std::make_shared<const FsoHandle>(fd);
  EntryInfo info = StatFd(fd);
  // Swapped for another folder (or a mount) since it was listed: not ours to walk.
  if (!info.ok || info.dev != dev_ || info.ino != ino_ || info.mount_root) return nullptr;
  return handle;
}

bool FsoFolder::List(bool want_folders, std::vector<FsoFile>* files,
                     std::vector<FsoFolder>* folders) const {
  std::shared_ptr<const FsoHandle> dir = Open();
  if (!dir) return false;
  std::vector<std::string> names;
  if (!ReadNames(dir->fd, names)) return false;
  for (std::string& n : names) {
    EntryInfo e = StatAt(dir->fd, n.c_str(), 0);
    if (!e.ok) continue;  // gone meanwhile
    if (e.mount_root || e.dev != dev_) continue;
    const bool is_folder = S_ISDIR(e.mode);
    if (is_folder != want_folders) continue;
    if (want_folders) {
      FsoFolder sub;
      sub.parent_ = dir;
      sub.path_ = JoinPath(path_, n);
      sub.name_ = std::move(n);
      sub.dev_ = e.dev;
      sub.ino_ = e.ino;
      folders->push_back(std::move(sub));
    } else {
      FsoFile file;
      file.parent_ = dir;
      file.path_ = JoinPath(path_, n);
      file.name_ = std::move(n);
      files->push_back(std::move(file));
    }
  }
  return true;
}

std::optional<std::vector<FsoFile>> FsoFolder::Files() const {
  std::vector<FsoFile> files;
  if (!List(false, &files, nullptr)) return std::nullopt;
  return files;
}

std::optional<std::vector<FsoFolder>> FsoFolder::SubFolders() const {
  std::vector<FsoFolder> folders;
  if (!List(true, nullptr, &folders)) return std::nullopt;
  return folders;
}

std::optional<FsoFolder> FileSystemObject::GetFolder(const std::string& path) const {
  if (path.empty() || path.front() != '/') return std::nullopt;
  const std::string normalized = NormalizePathText(path);
  const std::vector<std::string> parts = SplitComponents(normalized);
  int fd = OpenNoFollow(parts, parts.size(), O_PATH);
  if (fd < 0) return std::nullopt;
  FsoFolder folder;
  folder.self_ = std::make_shared<const FsoHandle>(fd);
  EntryInfo info = StatFd(fd);
  if (!info.ok) return std::nullopt;
  folder.dev_ = info.dev;
  folder.ino_ = info.ino;
  folder.path_ = normalized;
  folder.name_ = parts.empty() ? "" : parts.back();
  return folder;
}

std::optional<FsoFolder> FileSystemObject::GetFolder(const NamedFolder& named, const std::string& path) const {
  int fd = dup(named.fd());
  if (fd < 0) return std::nullopt;
  FsoFolder folder;
  folder.self_ = std::make_shared<const FsoHandle>(fd);
  folder.dev_ = named.identity().dev;
  folder.ino_ = named.identity().ino;
  folder.path_ = NormalizePathText(path);
  const auto slash = folder.path_.rfind('/');
  folder.name_ = slash == std::string::npos ? folder.path_ : folder.path_.substr(slash + 1);
  return folder;
}

bool FileSystemObject::DeleteFolder(const std::string& path) const {
  if (path.empty() || path.front() != '/') return false;
  const std::vector<std::string> parts = SplitComponents(NormalizePathText(path));
  if (parts.empty()) return false;  // "/" itself
  int parent = OpenNoFollow(parts, parts.size() - 1, O_PATH);
  if (parent < 0) return false;
  FsoHandle parent_handle(parent);
  EntryInfo parent_info = StatFd(parent);
  EntryInfo info = StatAt(parent, parts.back().c_str(), 0);
  // The named folder must be a folder on its parent's filesystem: a mount point is not
  // deleted into, a link is not a folder.
  if (!parent_info.ok || !info.ok || !S_ISDIR(info.mode) || info.dev != parent_info.dev || info.mount_root)
    return false;
  return DeleteFolderAt(parent, parts.back(), info.dev, info.ino);
}

bool FileSystemObject::DeleteFolder(const FsoFolder& folder) const {
  if (!folder.parent_) return false;
  return DeleteFolderAt(folder.parent_->fd, folder.name_, folder.dev_, folder.ino_);
}

}  // namespace tidrex::platform
