#include "platform/shell_folders.h"

#include "platform/cookie_folder.h"
#include "platform/locations.h"

namespace tidrex::platform {

std::string SpecialFolderPath(int csidl) {
  switch (csidl) {
    case kCsidlStartup:
      return XdgConfigHome() + "/autostart";
    case kCsidlRecent:
      return XdgDataHome() + "/RecentDocuments";
    case kCsidlDesktop:
      return XdgUserDir("XDG_DESKTOP_DIR", "Desktop");
    case kCsidlCommonStartMenu:
      return "/usr/share/applications";
    case kCsidlInternetCache:
      return XdgCacheHome();
    case kCsidlCookies:
      return CookieFolderPath();
    default:
      return "";
  }
}

}  // namespace tidrex::platform
