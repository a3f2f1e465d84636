// Emptying the temporary folder and the user-designated folder in three passes.
#pragma once

#include <cstddef>
#include <string>

namespace tidrex::engine {

void EmptyTempFolder();
void EmptyUserFolder();

// Deletes every file of the folder and, with `recurse`, of all its subfolders, one file at a
// time, at any depth; folders stay. False when the folder cannot be got (it is missing, not a folder, or a
// link anywhere in `folder_path`: callers pass the resolved path) or when a folder that
// cannot be listed ended the walk early.
bool DeleteFilesRecursive(const std::string& folder_path, bool recurse);

// Whether emptying `folder` is refused because it would wreck the system, the program or
// somebody else's files: any path that is not absolute (the unset values "" and "0" among
// them); every folder at or below /usr, /etc, /var (but /var/tmp), /boot, /dev, /proc,
// /sys, /run (but the user's own /run/user/<uid>), /opt, /srv, /snap, /lib*, /bin, /sbin
// and /root; the root, /home, the user's home, the application folder, the folder of
// "Clean.ini" and everything above them; other people's homes and everything at, above or
// below them; a folder the user does not own (but /tmp and /var/tmp themselves); and a
// path through a link owned by neither the user nor root. Judged on the folder the path
// opens (device and inode), so no name or link leads round it; a folder that does not
// exist is judged by its name.
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
