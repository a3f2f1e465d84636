// Chromium and Firefox ESR, then GNOME Web, Falkon and qutebrowser one by one, load a small
// site from loopback, in a network namespace that has nothing but loopback, with their home
// in a sandbox. The cache listing must then show exactly what they cached; the cleaning
// spares the keep list; and on the next visit the server sees requests for exactly the
// deleted URLs, while the kept ones come from the browsers' caches.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/internet_delete.h"
#include "platform/browser_profiles.h"
#include "platform/internet_cache.h"
#include "tests/support/sandbox.h"

namespace {

using tidrex::testing::Sandbox;
namespace platform = tidrex::platform;

const std::string kOrigin = "http://127.0.0.1:8765";
const std::vector<std::string> kPaths = {"/index.html", "/style.css",  "/app.js",
                                         "/lib%20v2.js", "/logo.png", "/photo.png?size=small"};
const std::set<std::string> kKeptPaths = {"/index.html", "/style.css", "/photo.png?size=small"};

std::string g_unshare;  // the namespace command that works here

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  for (const char* dir : {"/usr/sbin", "/sbin"}) {
    const std::string candidate = std::string(dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Why no test can run here, or the empty text.
std::string MissingPrerequisite() {
  for (const char* program : {"python3", "unshare", "ip", "timeout"})
    if (FindProgram(program).empty()) return std::string(program) + " is not installed";
  if (access(TIDREX_SITE_SERVER, R_OK) != 0) return "the site server script is missing";
  const std::string ip = FindProgram("ip");
  // As root a plain network namespace; otherwise a user namespace that maps us to root.
  for (const char* cmd : {"unshare -n", "unshare -rn"}) {
    if (RunShell(std::string(cmd) + " " + ip + " link set lo up >/dev/null 2>&1") == 0) {
      g_unshare = cmd;
      return {};
    }
  }
  return "network namespaces are not available (unshare -n and unshare -rn failed)";
}

constexpr const char* kVisitScript = R"(#!/bin/bash
# visit.sh LOG: serve the site on loopback, let each browser load it once, stop.
set -u
ip link set lo up || exit 3
python3 "$SITE_SERVER" "$SITE_DIR" 8765 "$1" &
server=$!
for i in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/8765) 2>/dev/null && break
  sleep 0.1
done
url=http://127.0.0.1:8765/index.html
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --password-store=basic --user-data-dir="$XDG_CONFIG_HOME/chromium" \
  --virtual-time-budget=3000 --dump-dom "$url" >/dev/null 2>>"$WORK/chromium.log" \
  || echo "chromium ended with $?" >&2
timeout 120 firefox-esr --headless --no-remote -P tidrex --screenshot "$WORK/shot.png" "$url" \
  >>"$WORK/firefox.log" 2>&1 || echo "firefox ended with $?" >&2
kill "$server"
wait "$server" 2>/dev/null
exit 0
)";

// Firefox: a registered relative profile, so its cache lands below the XDG cache folder,
// with the disk cache on and nothing at start-up that would reload or add pages.
constexpr const char* kFirefoxPrefs = R"(user_pref("browser.cache.disk.enable", true);
user_pref("browser.cache.disk.smart_size.enabled", false);
user_pref("browser.cache.disk.capacity", 102400);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.page", 0);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("network.predictor.enabled", false);
user_pref("network.prefetch-next", false);
)";

std::set<std::string> Urls(const std::set<std::string>& paths) {
  std::set<std::string> urls;
  for (const auto& p : paths) urls.insert(kOrigin + p);
  return urls;
}

// The entries of one browser family, as the cache service lists them.
std::multiset<std::string> ListedBy(platform::BrowserFamily family) {
  std::vector<platform::BrowserProfile> profiles;
  for (auto& p : platform::FindBrowserProfiles())
    if (p.family == family) profiles.push_back(p);
  platform::UrlCache cache(profiles);
  std::multiset<std::string> urls;
  for (const auto& e : cache.List()) {
    EXPECT_EQ(e.entry_type, platform::kNormalCacheEntry) << e.source_url;
    urls.insert(e.source_url);
  }
  return urls;
}

class BrowserCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box.SetEnv("DISPLAY", std::nullopt);
    box.SetEnv("WAYLAND_DISPLAY", std::nullopt);
    Sandbox::WriteFile(box.Path("work/visit.sh"), kVisitScript);
    const std::string root = box.Path("home/.mozilla/firefox");
    Sandbox::WriteFile(root + "/profiles.ini",
                       "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
                       "[Profile0]\nName=tidrex\nIsRelative=1\nPath=tidrex.default\nDefault=1\n");
    Sandbox::WriteFile(root + "/tidrex.default/user.js", kFirefoxPrefs);
  }

  // One visit of both browsers; returns the paths each of them requested.
  std::map<std::string, std::set<std::string>> Visit(const std::string& name) {
    const std::string log = box.Path("work/" + name + ".log");
    Sandbox::WriteFile(log, "");
    const std::string command = "env SITE_SERVER='" + std::string(TIDREX_SITE_SERVER) + "' SITE_DIR='" +
                                std::string(TIDREX_SITE_DIR) + "' WORK='" + box.Path("work") + "' " +
                                g_unshare + " bash '" + box.Path("work/visit.sh") + "' '" + log + "'";
    EXPECT_EQ(RunShell(command), 0) << command;
    std::map<std::string, std::set<std::string>> requests;
    std::istringstream lines(Sandbox::ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string method, path;
      words >> method >> path;
      const std::string browser = line.find("Firefox/") != std::string::npos ? "firefox"
                                  : line.find("Chrome/") != std::string::npos ? "chromium"
                                                                               : "other";
      requests[browser].insert(path);
    }
    return requests;
  }

  Sandbox box;
};

TEST_F(BrowserCacheTest, CleaningDeletesExactlyWhatTheNextVisitFetchesAgain) {
  for (const char* program : {"chromium", "firefox-esr"})
    if (FindProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
  const std::set<std::string> all(kPaths.begin(), kPaths.end());
  std::set<std::string> deleted;
  for (const auto& p : kPaths)
    if (!kKeptPaths.count(p)) deleted.insert(p);

  // First visit: both browsers fetch everything and cache it.
  auto first = Visit("first");
  ASSERT_EQ(first["chromium"], all) << Sandbox::ReadFile(box.Path("work/chromium.log"));
  ASSERT_EQ(first["firefox"], all) << Sandbox::ReadFile(box.Path("work/firefox.log"));
  EXPECT_TRUE(first["other"].empty());

  const auto profiles = platform::FindBrowserProfiles();
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_EQ(profiles[0].browser, "firefox");
  EXPECT_EQ(profiles[0].cache_dir, box.Path("home/.cache/mozilla/firefox/tidrex.default/cache2"));
  EXPECT_EQ(profiles[1].browser, "chromium");
  EXPECT_EQ(profiles[1].cache_dir, box.Path("home/.cache/chromium/Default/Cache/Cache_Data"));
  for (const auto& p : profiles) EXPECT_FALSE(platform::IsBrowserRunning(p)) << p.browser;

  // The listing shows exactly what each browser cached, every entry once.
  const std::set<std::string> all_urls = Urls(all);
  const std::multiset<std::string> expected_each(all_urls.begin(), all_urls.end());
  EXPECT_EQ(ListedBy(platform::BrowserFamily::Chromium), expected_each);
  EXPECT_EQ(ListedBy(platform::BrowserFamily::Firefox), expected_each);
  const std::vector<std::string> listing = tidrex::engine::ListCacheEntries();
  EXPECT_EQ(listing.size(), 2 * all.size());
  EXPECT_EQ(std::set<std::string>(listing.begin(), listing.end()), all_urls);
  EXPECT_EQ(tidrex::engine::ListCacheEntries(), listing);  // stable

  // The keep list, with near misses that must spare nothing.
  std::string ini = "[Delete]\nTemporary Internet Files=Yes\n[Internet]\n";
  std::vector<std::string> keep;
  for (const auto& p : kKeptPaths) keep.push_back(kOrigin + p);
  keep.push_back(kOrigin + "/APP.js");
  keep.push_back(kOrigin + "/");
  keep.push_back("127.0.0.1:8765/logo.png");
  for (std::size_t i = 0; i < keep.size(); ++i) ini += "sFile" + std::to_string(i) + "=" + keep[i] + "\n";
  Sandbox::WriteFile(box.IniPath(), ini);

  tidrex::engine::CleanInternetCache();
  const std::vector<std::string> after = tidrex::engine::ListCacheEntries();
  EXPECT_EQ(after.size(), 2 * kKeptPaths.size());
  EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), Urls(kKeptPaths));

  // Second visit: the kept URLs come from the caches, the deleted ones from the server.
  auto second = Visit("second");
  EXPECT_EQ(second["chromium"], deleted) << Sandbox::ReadFile(box.Path("work/chromium.log"));
  EXPECT_EQ(second["firefox"], deleted) << Sandbox::ReadFile(box.Path("work/firefox.log"));
  EXPECT_TRUE(second["other"].empty());
}

// ---- The browsers without a headless mode, each on an Xvfb of its own ----------------------

constexpr const char* kWindowVisitScript = R"SH(#!/bin/bash
# window_visit.sh BROWSER LOG REQUESTS: serve the site on loopback; let BROWSER load it on an
# Xvfb of its own until the server has seen REQUESTS requests (at most 60 s), give it time
# to write its cache, and ask it to quit as a user would.
set -u
ip link set lo up || exit 3
python3 "$SITE_SERVER" "$SITE_DIR" 8765 "$2" &
server=$!
Xvfb ":$DISPLAY_NUM" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for i in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/8765) 2>/dev/null && [ -e "/tmp/.X11-unix/X$DISPLAY_NUM" ] && break
  sleep 0.1
done
export DISPLAY=":$DISPLAY_NUM" QTWEBENGINE_DISABLE_SANDBOX=1
url=http://127.0.0.1:8765/index.html
bus=
case "$1" in
  epiphany)
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$WORK/bus" >/dev/null 2>&1 &
    bus=$!
    for i in $(seq 100); do [ -e "$WORK/bus" ] && break; sleep 0.1; done
    DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/bus" GSETTINGS_BACKEND=memory       WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 WEBKIT_DISABLE_COMPOSITING_MODE=1       setsid epiphany-browser "$url" >>"$WORK/$1.log" 2>&1 &
    ;;
  falkon) setsid falkon --no-remote --no-extensions "$url" >>"$WORK/$1.log" 2>&1 & ;;
  qutebrowser) setsid qutebrowser "$url" >>"$WORK/$1.log" 2>&1 & ;;
esac
browser=$!
for i in $(seq 600); do
  [ "$(wc -l <"$2")" -ge "$3" ] && break
  sleep 0.1
done
sleep 3
# Falkon dies on SIGTERM without writing its stores: it gets Ctrl+Q, as from a user.
if [ "$1" = falkon ]; then
  xdotool search --onlyvisible --class falkon windowfocus key --clearmodifiers ctrl+q >/dev/null 2>&1
else
  kill -TERM "$browser"
fi
for i in $(seq 200); do kill -0 "$browser" 2>/dev/null || break; sleep 0.1; done
kill -KILL -- "-$browser" 2>/dev/null
kill "$server" "$xvfb" $bus
wait 2>/dev/null
exit 0
)SH";

struct WindowBrowser {
  const char* name;     // the table's name, and the script's
  const char* program;
  const char* cache;    // below the sandbox: the profile's cache folder
};

std::ostream& operator<<(std::ostream& out, const WindowBrowser& b) { return out << b.name; }

class OtherEnginesCacheTest : public ::testing::TestWithParam<WindowBrowser> {
 protected:
  void SetUp() override {
    box.SetEnv("DISPLAY", std::nullopt);
    box.SetEnv("WAYLAND_DISPLAY", std::nullopt);
    box.SetEnv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    Sandbox::WriteFile(box.Path("work/window_visit.sh"), kWindowVisitScript);
    for (int n = 140; n < 200 && display_.empty(); ++n)
      if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) != 0) display_ = std::to_string(n);
  }

  // One visit; returns the paths the server was asked for.
  std::set<std::string> Visit(const std::string& name, std::size_t requests) {
    const std::string log = box.Path("work/" + name + ".log");
    Sandbox::WriteFile(log, "");
    const std::string command = "env SITE_SERVER='" + std::string(TIDREX_SITE_SERVER) + "' SITE_DIR='" +
                                std::string(TIDREX_SITE_DIR) + "' WORK='" + box.Path("work") + "' DISPLAY_NUM=" +
                                display_ + " " + g_unshare + " bash '" + box.Path("work/window_visit.sh") + "' " +
                                GetParam().name + " '" + log + "' " + std::to_string(requests);
    EXPECT_EQ(RunShell(command), 0) << command;
    std::set<std::string> paths;
    std::istringstream lines(Sandbox::ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string method, path;
      words >> method >> path;
      paths.insert(path);
    }
    return paths;
  }

  Sandbox box;
  std::string display_;
};

TEST_P(OtherEnginesCacheTest, CleaningDeletesExactlyWhatTheNextVisitFetchesAgain) {
  const WindowBrowser& b = GetParam();
  if (access(b.program, X_OK) != 0) GTEST_SKIP() << b.program << " is not installed";
  for (const char* program : {"Xvfb", "xdotool", "dbus-daemon", "setsid"})
    if (FindProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
  if (display_.empty()) GTEST_SKIP() << "no free X display number";
  const std::set<std::string> all(kPaths.begin(), kPaths.end());
  std::set<std::string> deleted;
  for (const auto& p : kPaths)
    if (!kKeptPaths.count(p)) deleted.insert(p);

  ASSERT_EQ(Visit("first", all.size()), all) << Sandbox::ReadFile(box.Path(std::string("work/") + b.name + ".log"));
  const auto profiles = platform::FindBrowserProfiles();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0].browser, b.name);
  EXPECT_EQ(profiles[0].cache_dir, box.Path(b.cache));
  EXPECT_FALSE(platform::IsBrowserRunning(profiles[0]));

  // Exactly what it cached, every entry once.
  const std::set<std::string> all_urls = Urls(all);
  EXPECT_EQ(ListedBy(profiles[0].family), std::multiset<std::string>(all_urls.begin(), all_urls.end()));

  std::string ini = "[Delete]\nTemporary Internet Files=Yes\n[Internet]\n";
  int n = 0;
  for (const auto& p : kKeptPaths) ini += "sFile" + std::to_string(n++) + "=" + kOrigin + p + "\n";
  ini += "sFile" + std::to_string(n) + "=" + kOrigin + "/APP.js\n";
  Sandbox::WriteFile(box.IniPath(), ini);
  tidrex::engine::CleanInternetCache();
  const std::vector<std::string> after = tidrex::engine::ListCacheEntries();
  EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), Urls(kKeptPaths));
  EXPECT_EQ(after.size(), kKeptPaths.size());

  EXPECT_EQ(Visit("second", deleted.size()), deleted)
      << Sandbox::ReadFile(box.Path(std::string("work/") + b.name + ".log"));
}

INSTANTIATE_TEST_SUITE_P(
    WindowBrowsers, OtherEnginesCacheTest,
    ::testing::Values(WindowBrowser{"epiphany", "/usr/bin/epiphany-browser", "home/.cache/epiphany/WebKitCache"},
                      WindowBrowser{"falkon", "/usr/bin/falkon", "home/.cache/falkon/default/Cache"},
                      WindowBrowser{"qutebrowser", "/usr/bin/qutebrowser", "home/.cache/qutebrowser/webengine/Cache"}),
    [](const ::testing::TestParamInfo<WindowBrowser>& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const std::string missing = MissingPrerequisite();
  if (!missing.empty()) {
    std::printf("SKIPPED: the real-browser cache test cannot run here: %s\n", missing.c_str());
    return 77;
  }
  return RUN_ALL_TESTS();
}
