#include "platform/browser_profiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string_view>

#include <dirent.h>

#include "platform/locations.h"
#include "platform/small_file.h"

namespace tidrex::platform {

namespace {

// How a browser lays out its profiles.
enum class Layout {
  // profiles.ini in <home>/<home_dir> or <config>/<dir>; caches at <cache>/<cache_dir>/<path>.
  FirefoxProfiles,
  // <config>/<dir>/{Default, Profile N, ...}; caches at <cache>/<cache_dir>/<profile>.
  ChromiumProfiles,
  // <root>/<dir> is the one profile; its cache folder is <cache>/<cache_dir>.
  OneProfile,
  // Every subfolder of <config>/<dir> is a profile; caches at <cache>/<cache_dir>/<profile>.
  ProfileFolders,
};

// Where a row's `dir` lies: below the XDG config folder or the XDG data folder.
enum class Root { Config, Data };

// One row per browser, in listing order. Sandboxed installs get their own home, config,
// data and cache roots. The paths are documented with their sources in docs/browsers.md.
struct KnownBrowser {
  const char* name;
  BrowserFamily family;
  Layout layout;
  Root root;
  const char* dir;
  const char* cache_dir;         // below the cache root
  const char* firefox_home_dir;  // FirefoxProfiles only: the legacy profiles root below home
  BrowserLock lock;
  const char* flatpak_id;        // nullptr when there is no flatpak
  const char* snap_name;         // nullptr when there is no snap
};

using BF = BrowserFamily;
using BL = BrowserLock;
constexpr KnownBrowser kKnownBrowsers[] = {
    // Firefox family.
    {"firefox", BF::Firefox, Layout::FirefoxProfiles, Root::Config, "mozilla/firefox", "mozilla/firefox",
     ".mozilla/firefox", BL::ParentLock, "org.mozilla.firefox", "firefox"},
    {"librewolf", BF::Firefox, Layout::FirefoxProfiles, Root::Config, "librewolf/librewolf", "librewolf",
     ".librewolf", BL::ParentLock, "io.gitlab.librewolf-community", nullptr},
    {"waterfox", BF::Firefox, Layout::FirefoxProfiles, Root::Config, "waterfox/waterfox", "waterfox",
     ".waterfox", BL::ParentLock, "net.waterfox.waterfox", nullptr},
    {"floorp", BF::Firefox, Layout::FirefoxProfiles, Root::Config, "floorp/floorp", "floorp", ".floorp",
     BL::ParentLock, "one.ablaze.floorp", nullptr},
    {"zen", BF::Firefox, Layout::FirefoxProfiles, Root::Config, "zen/zen", "zen", ".zen", BL::ParentLock,
     "app.zen_browser.zen", nullptr},
    // Chromium family.
    {"chromium", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "chromium", "chromium", nullptr,
     BL::SingletonLock, "org.chromium.Chromium", "chromium"},
    {"google-chrome", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "google-chrome", "google-chrome",
     nullptr, BL::SingletonLock, "com.google.Chrome", nullptr},
    {"google-chrome-beta", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "google-chrome-beta",
     "google-chrome-beta", nullptr, BL::SingletonLock, nullptr, nullptr},
    {"google-chrome-unstable", BF::Chromium, Layout::ChromiumProfiles, Root::Config,
     "google-chrome-unstable", "google-chrome-unstable", nullptr, BL::SingletonLock, "com.google.ChromeDev",
     nullptr},
    {"brave", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "BraveSoftware/Brave-Browser",
     "BraveSoftware/Brave-Browser", nullptr, BL::SingletonLock, "com.brave.Browser", "brave"},
    {"microsoft-edge", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "microsoft-edge",
     "microsoft-edge", nullptr, BL::SingletonLock, "com.microsoft.Edge", nullptr},
    {"microsoft-edge-beta", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "microsoft-edge-beta",
     "microsoft-edge-beta", nullptr, BL::SingletonLock, nullptr, nullptr},
    {"microsoft-edge-dev", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "microsoft-edge-dev",
     "microsoft-edge-dev", nullptr, BL::SingletonLock, nullptr, nullptr},
    {"vivaldi", BF::Chromium, Layout::ChromiumProfiles, Root::Config, "vivaldi", "vivaldi", nullptr,
     BL::SingletonLock, "com.vivaldi.Vivaldi", "vivaldi"},
    // Opera keeps its one profile in the user data directory itself.
    {"opera", BF::Chromium, Layout::OneProfile, Root::Config, "opera", "opera", nullptr, BL::SingletonLock,
     "com.opera.Opera", "opera"},
    {"opera-beta", BF::Chromium, Layout::OneProfile, Root::Config, "opera-beta", "opera-beta", nullptr,
     BL::SingletonLock, nullptr, "opera-beta"},
    {"opera-developer", BF::Chromium, Layout::OneProfile, Root::Config, "opera-developer",
     "opera-developer", nullptr, BL::SingletonLock, nullptr, nullptr},
    // QtWebEngine browsers: Chromium's formats, without its profile folders and lock.
    {"falkon", BF::Chromium, Layout::ProfileFolders, Root::Config, "falkon/profiles", "falkon", nullptr,
     BL::OpenFiles, "org.kde.falkon", nullptr},
    {"qutebrowser", BF::Chromium, Layout::OneProfile, Root::Data, "qutebrowser/webengine",
     "qutebrowser/webengine", nullptr, BL::OpenFiles, "org.qutebrowser.qutebrowser", nullptr},
    {"konqueror", BF::Chromium, Layout::OneProfile, Root::Data, "konqueror/QtWebEngine/Default",
     "konqueror/QtWebEngine/Default", nullptr, BL::OpenFiles, "org.kde.konqueror", nullptr},
    // WebKitGTK.
    {"epiphany", BF::WebKit, Layout::OneProfile, Root::Data, "epiphany", "epiphany", nullptr,
     BL::OpenFiles, "org.gnome.Epiphany", nullptr},
};

// Where one install of a browser keeps its files.
struct InstallRoots {
  std::string home;
  std::vector<std::string> config_roots;
  std::string data_root;
  std::string cache_root;
};

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (a.back() == '/') return a + std::string(b);
  return a + "/" + std::string(b);
}

std::vector<InstallRoots> InstallsOf(const KnownBrowser& browser) {
  const std::string home = HomeFolder();
  std::vector<InstallRoots> installs;
  installs.push_back({home, {XdgConfigHome()}, XdgDataHome(), XdgCacheHome()});
  if (browser.flatpak_id) {
    // Flatpak keeps HOME but moves the XDG folders into the app's own tree.
    const std::string app = home + "/.var/app/" + browser.flatpak_id;
    if (IsDirectory(app)) installs.push_back({app, {app + "/config"}, app + "/data", app + "/cache"});
  }
  if (browser.snap_name) {
    // Snap moves HOME into the snap's tree; some snaps keep their data at the top of it.
    for (const char* sub : {"common", "current"}) {
      const std::string root = home + "/snap/" + browser.snap_name + "/" + sub;
      if (IsDirectory(root))
        installs.push_back({root, {root + "/.config", root}, root + "/.local/share", root + "/.cache"});
    }
  }
  return installs;
}

// Profile names sort with their numbers compared as numbers ("Profile 2" before "Profile 10").
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = a[i] >= '0' && a[i] <= '9';
    const bool db = b[j] >= '0' && b[j] <= '9';
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && a[ei] >= '0' && a[ei] <= '9') ++ei;
      while (ej < b.size() && b[ej] >= '0' && b[ej] <= '9') ++ej;
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal under the natural rule: fall back to bytes for a total order
}

bool IsSafeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool IsChromiumProfileFolderName(const std::string& name) {
  if (name == "Default") return true;
  constexpr std::string_view kPrefix = "Profile ";
  if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  return std::all_of(name.begin() + kPrefix.size(), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> SubfolderNames(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (IsDirectory(Join(path, name))) names.push_back(std::move(name));
  }
  closedir(dir);
  return names;
}

// The names of the profiles that "Local State" knows: the members of profile.info_cache.
// A small scanner, not a JSON library: it only needs to find one object and read its
// member names, and gives up quietly on anything it does not understand.
class JsonScanner {
 public:
  explicit JsonScanner(std::string_view text) : s_(text) {}

  std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    SkipWs();
    if (!FindMember({"profile", "info_cache"}, 0)) return names;
    SkipWs();
    if (!Eat('{')) return names;
    while (true) {
      SkipWs();
      if (Eat('}')) break;
      std::string key;
      if (!String(&key)) break;
      SkipWs();
      if (!Eat(':')) break;
      if (!SkipValue(0)) break;
      names.push_back(std::move(key));
      SkipWs();
      if (Eat(',')) continue;
      break;
    }
    return names;
  }

 private:
  static constexpr int kMaxDepth = 64;

  // Positions after the member named path[level] of the object at the cursor, recursively.
  bool FindMember(std::initializer_list<const char*> path, std::size_t level) {
    if (level == path.size()) return true;
    SkipWs();
    if (!Eat('{')) return false;
    while (true) {
      SkipWs();
      if (Eat('}')) return false;
      std::string key;
      if (!String(&key)) return false;
      SkipWs();
      if (!Eat(':')) return false;
      if (key == *(path.begin() + level)) return FindMember(path, level + 1);
      if (!SkipValue(0)) return false;
      SkipWs();
      if (!Eat(',')) return false;
    }
  }

  bool SkipValue(int depth) {
    if (depth > kMaxDepth) return false;
    SkipWs();
    if (i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '"') return String(nullptr);
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++i_;
      SkipWs();
      if (Eat(close)) return true;
      while (true) {
        if (c == '{') {
          SkipWs();
          if (!String(nullptr)) return false;
          SkipWs();
          if (!Eat(':')) return false;
        }
        if (!SkipValue(depth + 1)) return false;
        SkipWs();
        if (Eat(close)) return true;
        if (!Eat(',')) return false;
      }
    }
    // number, true, false, null
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && s_[i_] != ']' &&
           !IsWs(s_[i_]))
      ++i_;
    return i_ > start;
  }

  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (i_ >= s_.size()) return false;
        const char e = s_[i_++];
        char v = e;
        switch (e) {
          case 'n': v = '\n'; break;
          case 't': v = '\t'; break;
          case 'r': v = '\r'; break;
          case 'b': v = '\b'; break;
          case 'f': v = '\f'; break;
          case 'u': {
            // Profile folder names are ASCII; anything else is kept out by the caller.
            if (i_ + 4 > s_.size()) return false;
            unsigned code = 0;
            for (int k = 0; k < 4; ++k) {
              const char h = s_[i_++];
              code <<= 4;
              if (h >= '0' && h <= '9') code |= static_cast<unsigned>(h - '0');
              else if (h >= 'a' && h <= 'f') code |= static_cast<unsigned>(h - 'a' + 10);
              else if (h >= 'A' && h <= 'F') code |= static_cast<unsigned>(h - 'A' + 10);
              else return false;
            }
            v = code < 0x80 ? static_cast<char>(code) : '\0';
            break;
          }
          default: break;
        }
        if (out) out->push_back(v);
      } else if (out) {
        out->push_back(c);
      }
    }
    return false;
  }

  static bool IsWs(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  void SkipWs() {
    while (i_ < s_.size() && IsWs(s_[i_])) ++i_;
  }
  bool Eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// "Local State" is small; a huge one is not a browser's.
constexpr std::size_t kLocalStateLimit = 16 * 1024 * 1024;

// The HTTP cache below a profile's cache folder: Chromium's "Cache/Cache_Data", or the
// bare "Cache" that QtWebEngine 5 (an older Chromium) writes.
std::string HttpCacheBelow(const std::string& base) {
  const std::string data = base + "/Cache/Cache_Data";
  if (IsDirectory(data) || !IsDirectory(base + "/Cache")) return data;
  return base + "/Cache";
}

// The Chromium-format and WebKit browsers: every layout but Firefox's.
void AddChromiumInstall(const KnownBrowser& browser, const InstallRoots& install,
                        std::vector<BrowserProfile>* out) {
  const std::vector<std::string> roots =
      browser.root == Root::Config ? install.config_roots : std::vector<std::string>{install.data_root};
  const bool any_user_data = std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
    return IsDirectory(Join(root, browser.dir));
  });
  const std::string cache_base = Join(install.cache_root, browser.cache_dir);
  for (const std::string& root : roots) {
    const std::string user_data_dir = Join(root, browser.dir);
    if (!IsDirectory(user_data_dir)) {
      // A cache left without any user data directory is still the browser's; it is
      // counted once, with the install's first root.
      const bool first_root = &root == &roots.front();
      if (any_user_data || !first_root || !IsDirectory(cache_base)) continue;
    }

    std::set<std::string> names;  // "" stands for the user data directory itself
    if (browser.layout == Layout::OneProfile) {
      names.insert("");
    } else if (browser.layout == Layout::ProfileFolders) {
      for (const std::string& base : {user_data_dir, cache_base})
        for (std::string& n : SubfolderNames(base))
          if (IsSafeComponent(n)) names.insert(std::move(n));
    } else {
      for (const std::string& n : SubfolderNames(user_data_dir))
        if (IsChromiumProfileFolderName(n)) names.insert(n);
      for (const std::string& n : SubfolderNames(cache_base))
        if (IsChromiumProfileFolderName(n)) names.insert(n);
      const std::string local_state = ReadSmallFileText(Join(user_data_dir, "Local State"), kLocalStateLimit);
      for (std::string& n : JsonScanner(local_state).ProfileNames())
        if (IsSafeComponent(n)) names.insert(std::move(n));
    }

    for (const std::string& name : names) {
      BrowserProfile p;
      p.browser = browser.name;
      p.family = browser.family;
      p.lock = browser.lock;
      p.profile_name = name.empty() ? "Default" : name;
      p.profile_dir = name.empty() ? user_data_dir : Join(user_data_dir, name);
      // Chromium's lock is one per user data directory; the others lock the profile.
      p.user_data_dir = browser.lock == BrowserLock::SingletonLock ? user_data_dir : p.profile_dir;
      const std::string base = name.empty() ? cache_base : Join(cache_base, name);
      if (browser.family == BrowserFamily::WebKit) {
        p.cache_dir = base + "/WebKitCache";
      } else {
        p.cache_dir = HttpCacheBelow(base);
        // A user data directory outside the config root keeps its cache inside itself.
        const std::string inner = HttpCacheBelow(p.profile_dir);
        if (!IsDirectory(p.cache_dir) && IsDirectory(inner)) p.cache_dir = inner;
      }
      if (!IsDirectory(p.profile_dir) && !IsDirectory(p.cache_dir)) continue;
      out->push_back(std::move(p));
    }
  }
}

struct IniProfile {
  std::string path;
  std::string is_relative;  // empty when the key is missing
};

std::vector<IniProfile> ReadProfilesIni(const std::string& file) {
  std::vector<IniProfile> profiles;
  std::istringstream in(ReadSmallFileText(file, 1024 * 1024));
  std::string line;
  bool in_profile = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 3 && static_cast<unsigned char>(line[0]) == 0xEF &&
        static_cast<unsigned char>(line[1]) == 0xBB && static_cast<unsigned char>(line[2]) == 0xBF)
      line.erase(0, 3);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      const std::string section = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      in_profile = section.rfind("Profile", 0) == 0;
      if (in_profile) profiles.push_back({});
      continue;
    }
    if (!in_profile) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (key == "Path") profiles.back().path = std::move(value);
    else if (key == "IsRelative") profiles.back().is_relative = std::move(value);
  }
  return profiles;
}

std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AddFirefoxInstall(const KnownBrowser& browser, const InstallRoots& install,
                       std::vector<BrowserProfile>* out) {
  std::vector<std::string> roots;
  roots.push_back(Join(install.home, browser.firefox_home_dir));
  for (const std::string& config_root : install.config_roots)
    roots.push_back(Join(config_root, browser.dir));
  const std::string cache_root = Join(install.cache_root, browser.cache_dir);

  for (const std::string& root : roots) {
    for (const IniProfile& entry : ReadProfilesIni(root + "/profiles.ini")) {
      if (entry.path.empty() || entry.path.find('\0') != std::string::npos) continue;
      const bool absolute = entry.path[0] == '/';
      const bool relative = entry.is_relative.empty() ? !absolute : entry.is_relative == "1";
      if (!relative && !absolute) continue;  // the browser itself could not use it
      BrowserProfile p;
      p.browser = browser.name;
      p.family = BrowserFamily::Firefox;
      p.lock = browser.lock;
      p.profile_name = LastComponent(entry.path);
      if (!IsSafeComponent(p.profile_name)) continue;
      if (relative) {
        // A relative profile keeps its cache at the same relative place below the cache root.
        p.profile_dir = Join(root, entry.path);
        p.cache_dir = Join(cache_root, entry.path) + "/cache2";
      } else {
        // A profile named by its full path keeps its cache inside itself.
        p.profile_dir = entry.path;
        p.cache_dir = Join(entry.path, "cache2");
      }
      p.user_data_dir = p.profile_dir;
      if (!IsDirectory(p.profile_dir) && !IsDirectory(p.cache_dir)) continue;
      out->push_back(std::move(p));
    }
  }
}

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf)) return buf;
  return path;
}

}  // namespace

std::vector<BrowserProfile> FindBrowserProfiles() {
  std::vector<BrowserProfile> all;
  std::set<std::string> seen_profiles, seen_caches;
  for (const KnownBrowser& browser : kKnownBrowsers) {
    for (const InstallRoots& install : InstallsOf(browser)) {
      std::vector<BrowserProfile> found;
      if (browser.layout == Layout::FirefoxProfiles) AddFirefoxInstall(browser, install, &found);
      else AddChromiumInstall(browser, install, &found);
      std::stable_sort(found.begin(), found.end(), [](const BrowserProfile& a, const BrowserProfile& b) {
        if (a.profile_name != b.profile_name) return NaturalLess(a.profile_name, b.profile_name);
        return a.profile_dir < b.profile_dir;
      });
      for (BrowserProfile& p : found) {
        // One profile reached twice (both Firefox roots, a snap's "current" link, a
        // symlinked folder) is reported once.
        const bool new_profile = seen_profiles.insert(Canonical(p.profile_dir)).second;
        const bool new_cache = seen_caches.insert(Canonical(p.cache_dir)).second;
        if (!new_profile || !new_cache) continue;
        all.push_back(std::move(p));
      }
    }
  }
  return all;
}

namespace {

bool ChromiumRunning(const BrowserProfile& profile) {
  const std::string lock = profile.user_data_dir + "/SingletonLock";
  char target[512];
  const ssize_t n = readlink(lock.c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  const std::string value(target, static_cast<std::size_t>(n));
  const std::size_t dash = value.rfind('-');
  if (dash == std::string::npos || dash + 1 >= value.size()) return false;
  const std::string host = value.substr(0, dash);
  const std::string pid_text = value.substr(dash + 1);
  if (!std::all_of(pid_text.begin(), pid_text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      pid_text.size() > 9)
    return false;
  char hostname[256] = {};
  if (gethostname(hostname, sizeof hostname - 1) != 0) return true;
  // A lock taken on another machine (a shared home) cannot be checked from here; the
  // browser itself refuses such a profile as in use, and so do we.
  if (host != hostname) return true;
  const pid_t pid = static_cast<pid_t>(std::strtol(pid_text.c_str(), nullptr, 10));
  if (pid <= 0) return false;
  return kill(pid, 0) == 0 || errno == EPERM;
}

bool FirefoxRunning(const BrowserProfile& profile) {
  const std::string lock = profile.user_data_dir + "/.parentlock";
  const int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  const bool locked = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  close(fd);
  return locked;
}

// QtWebEngine and WebKit browsers take no lock a reader could test, but while they run they
// keep their cookie store (and more) of the profile open: any other process with a file
// of the profile folder open counts as the browser.
bool ProfileFilesOpen(const BrowserProfile& profile) {
  const std::string folder = Canonical(profile.user_data_dir);
  if (folder.empty() || folder == "/") return false;
  const std::string prefix = folder + "/";
  const std::string self = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool open_elsewhere = false;
  while (!open_elsewhere) {
    const dirent* e = readdir(proc);
    if (!e) break;
    const std::string pid = e->d_name;
    if (pid == self || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const std::string fds = "/proc/" + pid + "/fd";
    DIR* dir = opendir(fds.c_str());  // another user's process: not readable, not ours
    if (!dir) continue;
    char target[PATH_MAX];
    while (const dirent* f = readdir(dir)) {
      if (f->d_name[0] == '.') continue;
      const ssize_t n = readlinkat(dirfd(dir), f->d_name, target, sizeof target - 1);
      if (n <= 0) continue;
      if (std::string_view(target, static_cast<std::size_t>(n)).substr(0, prefix.size()) == prefix) {
        open_elsewhere = true;
        break;
      }
    }
    closedir(dir);
  }
  closedir(proc);
  return open_elsewhere;
}

}  // namespace

bool IsBrowserRunning(const BrowserProfile& profile) {
  if (profile.user_data_dir.empty()) return false;
  switch (profile.lock) {
    case BrowserLock::SingletonLock: return ChromiumRunning(profile);
    case BrowserLock::ParentLock: return FirefoxRunning(profile);
    case BrowserLock::OpenFiles: return ProfileFilesOpen(profile);
  }
  return false;
}

}  // namespace tidrex::platform
