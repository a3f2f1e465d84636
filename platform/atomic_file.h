// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <string>

namespace tidrex::platform {

// Creates `folder` and any missing parents with `mode`; true when it exists as a folder.
bool MakeFolders(const std::string& folder, unsigned mode = 0700);

// Writes `contents` to a sibling temporary file, flushes it to disk and renames it over
// `path`, so `path` holds either its old contents or all of the new. False on any failure;
// the temporary file is then removed.
bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode = 0644);

}  // namespace tidrex::platform
