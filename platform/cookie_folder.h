// The cookie folder. Linux browsers keep cookies in SQLite stores, not in a folder of
// files, so the cookie folder is a virtual one: its plain files are the sites that hold
// cookies in the user's browsers, one entry per site (see cookie_store.h for what an entry
// is and which stores are written). This is the one place that knows which paths name it;
// listing and deletion go on to the cookie store.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tidrex::platform {

// The cookie folder's path text, without a trailing "/". It names no folder on disk, so a
// routine that does not know it finds nothing there and can delete nothing.
std::string CookieFolderPath();

// Whether `path` is the cookie folder (with or without a trailing "/") or an entry in it.
bool IsCookieFolderPath(const std::string& path);

// The cookie folder's entries: the sites of every readable store, sorted, each once.
std::vector<std::string> ListCookieFolder();

// Deletes the cookies of one site (an entry name as ListCookieFolder gives it). True when
// no store keeps a cookie of the site afterwards as far as can be told; false when some
// store holding it was left (browser running, store locked) or the write failed.
bool DeleteCookieFolderEntry(const std::string& name);

// DeletePath for paths below the cookie folder: "<folder>/<name>" deletes that site and
// no other; "*" and "?" in a name are taken literally. The folder itself cannot be
// removed; other paths are passed over. All the sites go in one pass that reads every
// store once. Returns the number of entries that could not be deleted.
std::size_t DeleteCookieFolderPaths(const std::vector<std::string>& paths);
std::size_t DeleteCookieFolderPath(const std::string& path);

// ---- For the general file code and the widgets, which need not know what lives off disk. ----

// The entries of `folder` when no disk holds it, else nothing.
std::optional<std::vector<std::string>> ListFolderOffDisk(const std::string& folder);

// Takes out of `paths` those that no disk holds and deletes them together; returns the
// number of them that could not be deleted.
std::size_t DeletePathsOffDisk(std::vector<std::string>& paths);

}  // namespace tidrex::platform
