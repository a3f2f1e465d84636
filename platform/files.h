// Files, folders and drives. Drives are the mounted filesystems; their roots are the
// mount points of the mount table.
#pragma once

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
// a wildcard in the last component deletes every matching entry of that folder. It never
// follows a symbolic link below the named folder, never descends into another mounted
// filesystem, and works relative to open folder descriptors so that a folder swapped for a
// link meanwhile cannot redirect it. What cannot be deleted is left; nothing is reported.
// Returns the number of entries that could not be removed, for tests.
std::size_t DeletePath(const std::string& path);

}  // namespace tidrex::platform

namespace tidrex::platform {

// DeletePath with the work shared among `threads` threads (the caller's among them):
// folders are emptied side by side, each removed once everything in it is gone. The same
// guarantees hold, and one more: no component of `path` may be a link (the caller passes a
// resolved path), so the named folder cannot be swapped for one either. Returns the number
// of entries that could not be removed. Defined in files_parallel.cpp.
std::size_t DeletePathParallel(const std::string& path, unsigned threads);

}  // namespace tidrex::platform
