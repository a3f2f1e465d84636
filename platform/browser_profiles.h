// The browsers' profiles: a table of known browsers, searched in the standard places
// (XDG cache and config folders, Firefox's profiles.ini roots, flatpak and snap homes).
#pragma once

#include <string>
#include <vector>

namespace tidrex::platform {

enum class BrowserFamily { Firefox, Chromium };

struct BrowserProfile {
  std::string browser;        // the table's name of the browser, e.g. "chromium", "firefox"
  BrowserFamily family;
  std::string profile_name;   // "Default", "Profile 1", "abcd.default-esr"
  std::string profile_dir;    // holds the cookie store ("Cookies" / "cookies.sqlite")
  std::string cache_dir;      // Chromium ".../Cache/Cache_Data", Firefox ".../cache2"
  std::string user_data_dir;  // Chromium: holds SingletonLock; Firefox: the profile folder
};

// Every profile found, in a stable order: browser table order, then profile name.
std::vector<BrowserProfile> FindBrowserProfiles();

// Whether the profile's browser is running now (Chromium: SingletonLock names a live PID;
// Firefox: another process holds the write lock on .parentlock).
bool IsBrowserRunning(const BrowserProfile& profile);

}  // namespace tidrex::platform
