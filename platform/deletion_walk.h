// The one deletion walk. Every deletion of the program (the shell deletion, the passes of
// folder emptying, the file-system object's deletions) goes through here, so every safety
// rule lives once:
// - work only relative to open folder descriptors, and re-check that what was opened is
//   what was looked at, so a folder swapped for a link meanwhile redirects nothing;
// - never follow a symbolic link: a link is removed as a link;
// - never enter another filesystem, nor a bind mount of the same one;
// - hold a bounded number of descriptors whatever the depth: a level whose descriptor was
//   closed is reached again through ".." and must be the same folder, or the walk stops;
// - keep one listing per open level, so memory grows with the width of the tree;
// - open up (owner's write and search bits) only folders the running user owns, below the
//   folder the caller named, never the caller's own folder unless it is the named one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace tidrex::platform {

// Which entries of the top folder a deletion is about.
struct Selection {
  enum class Kind { kAll, kName, kPattern, kFolder };
  Kind kind = Kind::kAll;
  std::string text;  // the name, or the wildcard pattern
  // kFolder: the entry must still be this folder (device and inode), else nothing happens.
  dev_t dev = 0;
  ino_t ino = 0;

  static Selection All() { return {}; }
  static Selection Name(std::string name) { return {Kind::kName, std::move(name)}; }
  static Selection Pattern(std::string pattern) { return {Kind::kPattern, std::move(pattern)}; }
  static Selection Folder(std::string name, dev_t dev, ino_t ino) { return {Kind::kFolder, std::move(name), dev, ino}; }
};

struct DeletionRules {
  bool folders = true;          // false: files only, every folder stays
  bool forced = true;           // false: an item without its owner's write bit is a failure
  bool stop_at_failure = false; // the first failure ends the whole walk
  bool sorted = false;          // files before folders, each in byte order
  bool open_up_top = false;     // the top folder is the named one and may be opened up
  unsigned threads = 1;         // entries of the top folder shared among this many threads
};

struct DeletionResult {
  std::size_t left = 0;      // entries that could not be removed
  bool ended_early = false;  // a failure (or, for files only, a folder that could not be
                             // listed) ended the walk
};

// Deletes the selected entries of the open folder `top_fd` (opened for reading) with
// everything below them.
DeletionResult DeleteInFolder(int top_fd, const Selection& which, const DeletionRules& rules);

// Removes one non-folder entry of an open folder, opening the folder up once when the user
// owns it and `may_open_up` allows. False when it stays.
bool RemoveFileAt(int dir_fd, const std::string& name, bool may_open_up);

}  // namespace tidrex::platform
