#include "platform/cookie_folder.h"

#include <algorithm>

#include "platform/cookie_store.h"

namespace tidrex::platform {
namespace {

// A URI scheme, not a folder: no real folder can be reached through this text.
constexpr const char* kCookieFolder = "cookies://browsers";

std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string EntryNameOf(const std::string& path) {
  const std::string folder = CookieFolderPath();
  if (path.size() <= folder.size() + 1) return {};
  return path.substr(folder.size() + 1);
}

bool Holds(const std::vector<std::string>& sorted, const std::string& site) {
  return std::binary_search(sorted.begin(), sorted.end(), site);
}

}  // namespace

std::string CookieFolderPath() { return kCookieFolder; }

bool IsCookieFolderPath(const std::string& path) {
  const std::string folder = CookieFolderPath();
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

std::vector<std::string> ListCookieFolder() { return ListCookieSites(FindCookieStores()).sites; }

bool DeleteCookieFolderEntry(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return false;
  const CookieDeletion result = DeleteCookieSites(FindCookieStores(), {name});
  return result.stores_left == 0 && !Holds(result.sites_left, AsciiLower(name));
}

std::size_t DeleteCookieFolderPaths(const std::vector<std::string>& paths) {
  std::size_t left = 0;
  // A site's name is a name: "*" and "?" are characters of it, never a pattern, or a site
  // named "*" would take every cookie with it.
  std::vector<std::string> chosen;
  for (const std::string& path : paths) {
    if (!IsCookieFolderPath(path)) continue;
    const std::string name = EntryNameOf(path);
    if (name.empty()) {
      ++left;  // the folder itself stays
    } else if (name.find('/') == std::string::npos) {  // else it names nothing: entries hold nothing
      chosen.push_back(AsciiLower(name));
    }
  }
  if (chosen.empty()) return left;
  const CookieDeletion result = DeleteCookieSites(FindCookieStores(), chosen);
  return left + static_cast<std::size_t>(std::count_if(chosen.begin(), chosen.end(), [&](const auto& s) {
           return Holds(result.sites_left, s);
         }));
}

std::size_t DeleteCookieFolderPath(const std::string& path) { return DeleteCookieFolderPaths({path}); }

std::optional<std::vector<std::string>> ListFolderOffDisk(const std::string& folder) {
  if (!IsCookieFolderPath(folder)) return std::nullopt;
  return ListCookieFolder();
}

std::size_t DeletePathsOffDisk(std::vector<std::string>& paths) {
  std::vector<std::string> cookie_paths;
  std::vector<std::string> rest;
  for (std::string& path : paths) (IsCookieFolderPath(path) ? cookie_paths : rest).push_back(std::move(path));
  paths = std::move(rest);
  return cookie_paths.empty() ? 0 : DeleteCookieFolderPaths(cookie_paths);
}

}  // namespace tidrex::platform
