// The browsers' profiles: a table of known browsers, searched in the standard places
// (XDG cache, config and data folders, Firefox's profiles.ini roots, flatpak and snap
// homes).
#pragma once

#include <string>
#include <vector>

namespace tidrex::platform {

// The on-disk formats a profile uses: Firefox cache2 and cookies.sqlite; Chromium's
// "simple" cache and Cookies (QtWebEngine browsers too); WebKit's network cache and its
// cookies.sqlite (moz_cookies schema, written by libsoup).
enum class BrowserFamily { Firefox, Chromium, WebKit };

// How a running browser shows that it holds a profile.
enum class BrowserLock {
  SingletonLock,  // <user data dir>/SingletonLock names a live PID (Chromium family)
  ParentLock,     // a POSIX write lock on <profile>/.parentlock (Firefox family)
  OpenFiles,      // a process has a file of the profile folder open (QtWebEngine, WebKit)
};

struct BrowserProfile {
  std::string browser;        // the table's name of the browser, e.g. "chromium", "firefox"
  BrowserFamily family;
  std::string profile_name;   // "Default", "Profile 1", "abcd.default-esr"
  std::string profile_dir;    // holds the cookie store ("Cookies" / "cookies.sqlite")
  std::string cache_dir;      // Chromium ".../Cache/Cache_Data" or ".../Cache", Firefox
                              // ".../cache2", WebKit ".../WebKitCache"
  std::string user_data_dir;  // Chromium: holds SingletonLock; others: the profile folder
  BrowserLock lock = BrowserLock::SingletonLock;
};

// Every profile found, in a stable order: browser table order, then profile name.
std::vector<BrowserProfile> FindBrowserProfiles();

// Whether the profile's browser is running now, by the profile's lock.
bool IsBrowserRunning(const BrowserProfile& profile);

}  // namespace tidrex::platform
