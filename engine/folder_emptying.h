// Emptying the temporary folder and the user-designated folder in three passes.
#pragma once

#include <cstddef>
#include <string>

namespace tidrex::engine {

void EmptyTempFolder();
void EmptyUserFolder();

// Deletes every file of the folder and, with `recurse`, of all its subfolders, one file at a
// time; folders stay. False when the folder cannot be got (it is missing, not a folder, or a
// link anywhere in `folder_path`: callers pass the resolved path) or when a folder that
// cannot be listed ended the walk early.
bool DeleteFilesRecursive(const std::string& folder_path, bool recurse);

// Whether emptying `folder` is refused because it would wreck the system or the program:
// "/", the top-level system folders, the home folder and every folder above it, the
// application folder and every folder above it, the folder of "Clean.ini" and every folder
// above it, and any path that is not absolute
// (the unset values "" and "0" among them). Decided on the path as written (normalised)
// and on the folder it resolves to, so a link to a refused folder is refused too.
bool IsFolderRefusedForEmptying(const std::string& folder);

// What one emptying did, for tests; the cleaning run ignores it.
struct EmptyingReport {
  bool refused = false;          // nothing was touched
  bool found = false;            // the folder existed and was emptied
  std::string working_folder;    // the resolved folder, with a trailing "/"
  std::size_t first_pass_left = 0;
  std::size_t second_pass_failures = 0;
  std::size_t third_pass_failures = 0;  // files that could not be deleted
  bool third_pass_ended_early = false;  // a folder that could not be listed ended it
};

// The three passes on the named folder; EmptyTempFolder and EmptyUserFolder run this.
EmptyingReport EmptyFolder(const std::string& folder);

}  // namespace tidrex::engine
