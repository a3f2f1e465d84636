// Files, folders and drives. Drives are the mounted filesystems; their roots are the
// mount points of the mount table.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tidrex::platform {

struct Mount {
  std::string mount_point;  // unescaped, absolute
  std::string fs_type;
  std::string source;
  unsigned major = 0;
  unsigned minor = 0;
};

// The mounted filesystems in mount-table order.
std::vector<Mount> ListMounts();

// Drive type codes as Windows reports them: 0 invalid, 1 no root, 2 removable, 3 fixed,
// 4 remote, 5 CD-ROM, 6 RAM disk. `path` must be absolute; anything else gives 1.
int DriveTypeOfPath(const std::string& path);

// Whether `pattern` matches `name` by the Windows wildcard rules: "*" any run of
// characters, "?" one character, "*" and "*.*" every name. Names compare exactly.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Whether at least one directory entry matches the last component of `path` (wildcards
// allowed there). Links are never followed: a dangling link exists.
bool AnyEntryMatches(const std::string& path);

// Deletes what `path` names: a file, a link (as a link) or a folder with everything in it;
// a wildcard in the last component deletes every matching entry of that folder. The folder
// part is found as OpenNamedFolder finds it; below it the deletion walk's rules hold (no
// link followed, no other filesystem entered). `threads` share the matching entries. What
// cannot be deleted is left; nothing is reported. Returns the number of entries that could
// not be removed, for tests.
std::size_t DeletePath(const std::string& path, unsigned threads = 1);
// DeletePath for several paths as one operation: paths that no disk holds are deleted
// together, the others one after another.
std::size_t DeletePaths(const std::vector<std::string>& paths, unsigned threads = 1);

// A folder by device and inode: what the refusals compare, whatever names lead to it.
struct FolderIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// A folder found once by its path and held open (for reading), so that what is judged is
// what is worked on: nothing is looked up by path again.
class NamedFolder {
 public:
  NamedFolder(int fd, FolderIdentity id, uid_t owner) : fd_(fd), id_(id), owner_(owner) {}
  NamedFolder(NamedFolder&& o) noexcept : fd_(o.fd_), id_(o.id_), owner_(o.owner_) { o.fd_ = -1; }
  NamedFolder& operator=(NamedFolder&&) = delete;
  NamedFolder(const NamedFolder&) = delete;
  ~NamedFolder();

  int fd() const { return fd_; }
  const FolderIdentity& identity() const { return id_; }
  uid_t owner() const { return owner_; }
  // This folder and every folder above it up to the root, nearest first, reached through
  // ".." from the descriptor. Empty when a folder above cannot be reached.
  std::vector<FolderIdentity> Chain() const;

 private:
  int fd_;
  FolderIdentity id_;
  uid_t owner_;
};

enum class NamedFolderError { kNone, kMissing, kForeignLink, kNotAFolder };

// Opens the folder an absolute path names, resolving ".", ".." and links as the kernel
// does, except that a link owned neither by the running user nor by root is not followed
// (the protected-symlinks rule, whatever the system's setting): `why` says kForeignLink.
std::optional<NamedFolder> OpenNamedFolder(const std::string& path, NamedFolderError* why = nullptr);

// The identity of the folder a path names, links followed; nothing when there is none.
std::optional<FolderIdentity> IdentityOf(const std::string& path);

// The chain (as NamedFolder::Chain) of the folder a path names, links followed.
std::vector<FolderIdentity> ChainOf(const std::string& path);

}  // namespace tidrex::platform
