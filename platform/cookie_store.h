// The browsers' cookie stores, seen as sites: the cookie folder (cookie_folder.h) lists one
// entry per site, named by the site's registrable domain (the Public Suffix List decides;
// "localhost" and IP addresses stand for themselves). Deleting an entry deletes every
// cookie of that site, subdomains included, from every store that may be written now.
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
  std::vector<std::string> sites_left;  // chosen sites a store not written still holds; sorted
};

// Deletes every cookie of the named sites from the given stores: one transaction with one
// DELETE per store, and every store read once. Stores whose browser is running are left.
CookieDeletion DeleteCookieSites(const std::vector<CookieStore>& stores,
                                 const std::vector<std::string>& sites);

}  // namespace tidrex::platform
