// The cookie folder. Linux browsers keep cookies in SQLite stores, not in a folder of
// files, so the cookie folder is a virtual one: its plain files are the sites that hold
// cookies in the user's browsers, one entry per site, named by the site's registrable
// domain (the Public Suffix List decides; "localhost" and IP addresses stand for
// themselves). Deleting an entry deletes every cookie of that site, subdomains included,
// from every store that may be written now.
//
// A store whose browser is running, or that another connection holds locked, is never
// written and its sites stay listed. A store that is missing, unreadable, corrupt or of an
// unknown schema is skipped and never repaired or rewritten.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/browser_profiles.h"

namespace tidrex::platform {

// The cookie folder's path text, without a trailing "/". It names no folder on disk, so a
// routine that does not know it finds nothing there and can delete nothing.
std::string CookieFolderPath();

// Whether `path` is the cookie folder (with or without a trailing "/") or an entry in it.
// DeletePath and the file list box route such paths here instead of the disk.
bool IsCookieFolderPath(const std::string& path);

// The cookie folder's entries: the sites of every readable store, sorted, each once.
std::vector<std::string> ListCookieFolder();

// Deletes the cookies of one site (an entry name as ListCookieFolder gives it). True when
// no store keeps a cookie of the site afterwards as far as can be told; false when some
// store holding it was left (browser running, store locked) or the write failed.
bool DeleteCookieFolderEntry(const std::string& name);

// DeletePath for a path below the cookie folder: "<folder>/<name>" deletes that site and
// no other; "*" and "?" in a name are taken literally. The folder itself cannot be
// removed. Returns the number of entries that could not be deleted.
std::size_t DeleteCookieFolderPath(const std::string& path);

// ---- The layer below, for the routines above and for tests. ----

// The site a cookie host belongs to: a leading "." dropped, ASCII lower case, IP addresses
// (IPv6 written in brackets, canonical form) and hosts that are themselves a public suffix
// or a single label stand for themselves, anything else is its registrable domain. Empty
// for a host that cannot name an entry (empty, "/" or control characters in it).
std::string CookieSiteOfHost(const std::string& host);

struct CookieStore {
  std::string path;           // "Cookies" or "cookies.sqlite"
  BrowserFamily family = BrowserFamily::Chromium;
  bool browser_running = false;
};

// The stores of every browser profile found, existing files only, each with its browser's
// running state read now.
std::vector<CookieStore> FindCookieStores();

struct CookieListing {
  std::vector<std::string> sites;  // sorted, unique
  std::size_t stores_read = 0;
  std::size_t stores_skipped = 0;  // unreadable, corrupt, unknown schema
};

// The sites of the given stores. A store locked by its browser is read from a private
// snapshot of its files, so its sites are listed while it is in use.
CookieListing ListCookieSites(const std::vector<CookieStore>& stores);

struct CookieDeletion {
  std::size_t rows_deleted = 0;
  std::size_t stores_changed = 0;  // committed with at least one row deleted
  std::size_t stores_left = 0;     // held a chosen site but were not written
  std::size_t stores_skipped = 0;  // unreadable, corrupt, unknown schema
};

// Deletes every cookie of the named sites from the given stores: one transaction with one
// DELETE per store. Stores whose browser is running are left.
CookieDeletion DeleteCookieSites(const std::vector<CookieStore>& stores,
                                 const std::vector<std::string>& sites);

}  // namespace tidrex::platform
