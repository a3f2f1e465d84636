// The shell's special folders, by their Windows identifiers, mapped onto XDG.
#pragma once

#include <string>

namespace tidrex::platform {

inline constexpr int kCsidlStartup = 7;
inline constexpr int kCsidlRecent = 8;
inline constexpr int kCsidlDesktop = 16;
inline constexpr int kCsidlCommonStartMenu = 22;
inline constexpr int kCsidlInternetCache = 32;
inline constexpr int kCsidlCookies = 33;

// The folder's path without a trailing "/", or the empty text for an unknown identifier.
std::string SpecialFolderPath(int csidl);

}  // namespace tidrex::platform
