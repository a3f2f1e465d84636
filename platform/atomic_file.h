// Whole-file writes that never leave a half-written file behind, and the lock that keeps
// read-modify-writes of one file by several processes from losing each other's changes.
#pragma once

#include <string>

namespace tidrex::platform {

// Creates `folder` and any missing parents with `mode`; true when it exists as a folder.
bool MakeFolders(const std::string& folder, unsigned mode = 0700);

// Replaces `path` by `contents`: a sibling temporary file ".<name>.XXXXXX" is written,
// flushed to disk and renamed over `path`, then the folder is flushed, so that `path` holds
// either its old contents or all of the new, across a crash or a power loss too. A link is
// written through, not replaced; anything but a regular file at the end of it is refused.
// An existing file keeps its permission bits (and, for root, its owner); a new one gets
// `mode` less the umask. Temporary files of the same name left by writers that died more
// than a minute ago are removed first. False on any failure: `path` is then as it was and
// no temporary file of this write remains.
bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode = 0644);

// An exclusive advisory lock that every process holds across its read-modify-write of
// `path`. It lives on a sibling lock file ".<name>.lock", which the rename of a write does not
// replace, and the holder removes that file when it lets go, so nothing is left behind. It
// waits as long as another process holds it. On one thread, taking it again while it is held
// nests. Held() is false when the lock file cannot be opened (no write access to the folder).
class UpdateLock {
 public:
  explicit UpdateLock(const std::string& path);
  ~UpdateLock();
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;

  bool Held() const { return held_; }

 private:
  std::string lock_path_;
  bool held_ = false;
};

}  // namespace tidrex::platform
