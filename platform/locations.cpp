#include "platform/locations.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "platform/small_file.h"

extern char** environ;

namespace tidrex::platform {
namespace {

std::mutex g_mutex;
std::string g_app_folder_override;
std::string g_mount_table_override;
std::string g_sysfs_override;

std::string Locked(const std::string& value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return value;
}

std::string WithoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string XdgBase(const char* variable, const char* below_home) {
  auto v = Environment(variable);
  // The XDG rules ignore relative values.
  if (v && !v->empty() && (*v)[0] == '/') return WithoutTrailingSlash(*v);
  return HomeFolder() + "/" + below_home;
}

}  // namespace

std::string ApplicationFolder() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_app_folder_override.empty()) return g_app_folder_override;
  }
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::optional<std::string> Environment(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

std::optional<std::string> EnvironmentIgnoringCase(const std::string& name) {
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq || static_cast<size_t>(eq - *e) != name.size()) continue;
    if (strncasecmp(*e, name.c_str(), name.size()) == 0) return std::string(eq + 1);
  }
  return std::nullopt;
}

std::string HomeFolder() {
  auto home = Environment("HOME");
  if (home && !home->empty()) return WithoutTrailingSlash(*home);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return WithoutTrailingSlash(pw->pw_dir);
  return "/";
}

std::string XdgConfigHome() { return XdgBase("XDG_CONFIG_HOME", ".config"); }
std::string XdgCacheHome() { return XdgBase("XDG_CACHE_HOME", ".cache"); }
std::string XdgDataHome() { return XdgBase("XDG_DATA_HOME", ".local/share"); }

std::string XdgUserDir(const std::string& key, const std::string& fallback) {
  const std::string home = HomeFolder();
  std::istringstream in(ReadSmallFileText(XdgConfigHome() + "/user-dirs.dirs"));
  std::string line;
  while (std::getline(in, line)) {
    // Lines look like XDG_DESKTOP_DIR="$HOME/Desktop".
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string v = line.substr(key.size() + 1);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
    if (!v.empty() && v[0] == '/') return WithoutTrailingSlash(v);
  }
  return home + "/" + fallback;
}

std::string MountTablePath() {
  std::string o = Locked(g_mount_table_override);
  return o.empty() ? "/proc/self/mountinfo" : o;
}

std::string SysfsRoot() {
  std::string o = Locked(g_sysfs_override);
  return o.empty() ? "/sys" : o;
}

void SetApplicationFolderForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_app_folder_override = folder;
  if (!folder.empty() && folder.back() != '/') g_app_folder_override += '/';
}

void SetMountTableForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_mount_table_override = path;
}

void SetSysfsRootForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sysfs_override = path;
}

}  // namespace tidrex::platform
