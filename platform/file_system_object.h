// The file-system object: folders with their files and subfolders, and folder deletion
// without force, with the semantics the cleaning passes rely on.
//
// Its deletions are those of the one deletion walk (platform/deletion_walk.h). Safety
// rules, stronger than the original object's:
// - No symbolic link is ever followed, not even in the path handed to GetFolder or
//   DeleteFolder: every component is opened with O_NOFOLLOW. Callers resolve the folder
//   they were given (realpath) before they start. A link inside a folder is listed as a
//   file and deleted as a link.
// - No other mounted filesystem is entered: a mount point below a folder is neither listed
//   as a subfolder nor as a file, and DeleteFolder never descends into one.
// - Everything below a folder object is reached relative to its open descriptor, so a
//   folder swapped for a link after it was listed cannot redirect anything.
// - Names are taken literally. Linux names may hold "*" and "?", so no wildcard is ever
//   expanded here.
// - Collections are snapshots taken when asked for, sorted by name (byte order), like the
//   sorted listing of the original's filesystem.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tidrex::platform {

// An open folder descriptor, shared by the objects found inside it.
struct FsoHandle;
class NamedFolder;

class FsoFile {
 public:
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  // Removes the file (or link, as a link) from the folder it was listed in. A file's own
  // permission bits do not matter, as for a shell deletion; false when it cannot be removed.
  bool Delete() const;

 private:
  friend class FsoFolder;
  std::shared_ptr<const FsoHandle> parent_;
  std::string name_;
  std::string path_;
};

class FsoFolder {
 public:
  const std::string& Name() const { return name_; }  // "" for "/"
  const std::string& Path() const { return path_; }  // no trailing "/" except for "/"

  // The files directly inside: every entry that is not a folder on this filesystem and
  // not a mount point. Nothing when the folder cannot be listed (no permission, gone).
  std::optional<std::vector<FsoFile>> Files() const;
  // The folders directly inside, on the same filesystem. Nothing when it cannot be listed.
  std::optional<std::vector<FsoFolder>> SubFolders() const;
  // Whether the folder can still be got: it exists and, for a listed subfolder, is still
  // the folder that was listed (not swapped for a link or another folder, not a mount).
  bool StillThere() const { return Open() != nullptr; }

 private:
  friend class FileSystemObject;
  // Opens this folder afresh (a subfolder is opened relative to its parent and must still
  // be the same folder that was listed).
  std::shared_ptr<const FsoHandle> Open() const;
  bool List(bool want_folders, std::vector<FsoFile>* files,
            std::vector<FsoFolder>* folders) const;

  std::shared_ptr<const FsoHandle> self_;    // set for a folder got by GetFolder
  std::shared_ptr<const FsoHandle> parent_;  // set for a listed subfolder
  std::string name_;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

class FileSystemObject {
 public:
  // The folder at an absolute path ("." and ".." components and repeated or trailing "/"
  // are normalised as text). Nothing when it is not an existing folder, when a component
  // is a link, or when the path is relative. A folder without read permission is still
  // got; listing it fails.
  std::optional<FsoFolder> GetFolder(const std::string& path) const;

  // Deletes the folder and everything in it, not forced, and stops at the first failure,
  // leaving what was not yet deleted. Failures: a read-only item (its owner has no write
  // permission bit, the stand-in for the read-only attribute), a folder that cannot be
  // listed or an item that cannot be removed, a mount point inside, and a path that is not
  // a folder (a link to one included) or is itself a mount point. True when it is gone.
  bool DeleteFolder(const std::string& path) const;

  // The folder object of a folder already opened by name; `path` is what it was named.
  std::optional<FsoFolder> GetFolder(const NamedFolder& named, const std::string& path) const;
  // DeleteFolder of a listed subfolder, relative to the folder it was listed in: nothing
  // is looked up by path again.
  bool DeleteFolder(const FsoFolder& folder) const;
};

// "/a//b/./c/../d/" -> "/a/b/d". ".." above "/" stays at "/". A relative path is
// normalised the same way but stays relative; the empty text stays empty.
std::string NormalizePathText(const std::string& path);

}  // namespace tidrex::platform
