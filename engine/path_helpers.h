// The path and file helpers: existence tests, drive types, the one deletion primitive,
// the special folders, the temporary folder and the version test.
#pragma once

#include <string>
#include <vector>

namespace tidrex::engine {

// 0 for a blank text; else the type of the filesystem holding the path (see platform).
int DriveTypeOf(const std::string& path);

// Whether a drive root, folder or file exists (wildcards allowed in the last component).
bool ItemExists(const std::string& path);

// The mount points of the mounted filesystems, each followed by a NUL.
std::string LogicalDriveList();

// Deletes files and folders silently, for good. Never follows a link below the named path
// and never crosses into another mounted filesystem.
void ShellDelete(const std::string& path);
// ShellDelete of several paths as one operation, as the shell's file operation takes a list.
void ShellDeleteList(const std::vector<std::string>& paths);

// A special folder by its identifier, without a trailing "/", or the empty text.
std::string GetFolderPath(int identifier);

// The value of the environment variable "Temp" (any case), or the empty text.
std::string TempFolder();

// Always false: there is no Windows XP here, so the skin is always applied.
bool IsWindowsXP();

}  // namespace tidrex::engine
