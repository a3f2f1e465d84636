#include "platform/locations.h"

#include "platform/atomic_file.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/small_file.h"

extern char** environ;

// Where the install rules put the command, seen from the application folder.
#ifndef TIDREX_COMMAND_FROM_APP_DIR
#define TIDREX_COMMAND_FROM_APP_DIR "../../bin/tidrex"
#endif

namespace tidrex::platform {
namespace {

std::mutex g_mutex;
std::string g_app_folder_override;
std::string g_mount_table_override;
std::string g_sysfs_override;
std::string g_system_root_override;
std::string g_password_file_override;

std::string Locked(const std::string& value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return value;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
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

std::string ConfigurationFolder() {
  const std::string app = ApplicationFolder();
  // The writer replaces the file through a sibling, so the folder, not the file, decides.
  if (access(app.c_str(), W_OK | X_OK) == 0) return app;
  const std::string folder = XdgConfigHome() + "/Tidrex";
  MakeFolders(folder);
  return folder + "/";
}

std::string InstalledCommand() {
  const std::string command =
      std::filesystem::path(ApplicationFolder() + TIDREX_COMMAND_FROM_APP_DIR).lexically_normal().string();
  const std::string self = RealPath("/proc/self/exe");
  if (self.empty() || RealPath(command) != self) return "";
  return command;
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

std::string SystemRoot() {
  std::string o = Locked(g_system_root_override);
  return o.empty() ? "/" : o;
}

std::vector<UserHome> PasswordHomes() {
  std::vector<UserHome> homes;
  if (std::string file = Locked(g_password_file_override); !file.empty()) {
    // name:password:uid:gid:gecos:home:shell
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      for (std::size_t i = 0, j; i <= line.size(); i = j + 1) {
        j = line.find(':', i);
        if (j == std::string::npos) j = line.size();
        f.push_back(line.substr(i, j - i));
      }
      if (f.size() >= 6 && !f[5].empty() && f[5][0] == '/')
        homes.push_back({static_cast<uid_t>(std::strtoul(f[2].c_str(), nullptr, 10)), WithoutTrailingSlash(f[5])});
    }
    return homes;
  }
  // getpwent keeps its place in process-wide state.
  static std::mutex pw_mutex;
  std::lock_guard<std::mutex> lock(pw_mutex);
  setpwent();
  while (const passwd* pw = getpwent())
    if (pw->pw_dir && pw->pw_dir[0] == '/') homes.push_back({pw->pw_uid, WithoutTrailingSlash(pw->pw_dir)});
  endpwent();
  return homes;
}

void SetPasswordFileForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_password_file_override = path;
}

void SetSystemRootForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_system_root_override = WithoutTrailingSlash(path);
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
