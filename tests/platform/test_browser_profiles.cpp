#include "platform/browser_profiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform/fs_fixtures.h"
#include "tests/support/cache_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using ::testing::ElementsAre;
using tidrex::testing::LockHolder;
using tidrex::testing::Sandbox;
namespace fx = tidrex::testing;

std::vector<std::string> Describe(const std::vector<BrowserProfile>& profiles) {
  std::vector<std::string> out;
  for (const auto& p : profiles) out.push_back(p.browser + ":" + p.profile_name);
  return out;
}

class BrowserProfilesTest : public ::testing::Test {
 protected:
  Sandbox box;
  std::string H(const std::string& rel) const { return box.Path("home/" + rel); }
};

TEST_F(BrowserProfilesTest, ChromiumProfilesComeFromFoldersAndLocalState) {
  EXPECT_TRUE(FindBrowserProfiles().empty()) << "an empty home has no profiles";
  for (const char* p : {"Default", "Profile 10", "Profile 2", "Crashpad", "System Profile", "Guest Profile"})
    Sandbox::MakeDirs(H(".config/chromium/") + p);
  // "Work" is a profile only Local State names; "Ghost" is named but exists nowhere.
  Sandbox::MakeDirs(H(".config/chromium/Work"));
  Sandbox::WriteFile(H(".config/chromium/Local State"),
                     R"({"browser":{"x":[1,2,{"a":"}"}]},"profile":{"last_used":"Default",)"
                     R"("info_cache":{"Default":{"name":"Person 1"},"Work":{"name":"W","n":[1,{"x":null}]},)"
                     R"("Ghost":{},"..":{}}}})");
  const auto profiles = FindBrowserProfiles();
  EXPECT_THAT(Describe(profiles), ElementsAre("chromium:Default", "chromium:Profile 2",
                                              "chromium:Profile 10", "chromium:Work"));
  const BrowserProfile& d = profiles[0];
  EXPECT_EQ(d.family, BrowserFamily::Chromium);
  EXPECT_EQ(d.profile_dir, H(".config/chromium/Default"));
  EXPECT_EQ(d.user_data_dir, H(".config/chromium"));
  EXPECT_EQ(d.cache_dir, H(".cache/chromium/Default/Cache/Cache_Data"));
}

TEST_F(BrowserProfilesTest, ChromiumHonoursTheXdgFoldersAndFindsACacheWithoutUserData) {
  box.SetEnv("XDG_CONFIG_HOME", box.Path("cfg"));
  box.SetEnv("XDG_CACHE_HOME", box.Path("cch"));
  Sandbox::MakeDirs(box.Path("cfg/chromium/Default"));
  Sandbox::MakeDirs(H(".config/chromium/Profile 1"));  // not where the browser looks now
  Sandbox::MakeDirs(box.Path("cch/chromium/Profile 3/Cache/Cache_Data"));
  const auto profiles = FindBrowserProfiles();
  ASSERT_THAT(Describe(profiles), ElementsAre("chromium:Default", "chromium:Profile 3"));
  EXPECT_EQ(profiles[0].cache_dir, box.Path("cch/chromium/Default/Cache/Cache_Data"));
}

TEST_F(BrowserProfilesTest, EveryBrowserInTableOrder) {
  for (const char* dir : {"opera", "vivaldi", "microsoft-edge-dev", "microsoft-edge", "BraveSoftware/Brave-Browser",
                          "google-chrome-beta", "google-chrome", "chromium"})
    fx::MakeChromiumProfile(box, dir, "Default");
  fx::MakeEpiphanyProfile(box);
  Sandbox::MakeDirs(H(".local/share/qutebrowser/webengine"));
  Sandbox::MakeDirs(H(".config/falkon/profiles/work"));
  Sandbox::MakeDirs(H(".cache/falkon/default/Cache"));  // a profile with only its cache left
  Sandbox::MakeDirs(H(".librewolf/l.default"));
  Sandbox::WriteFile(H(".librewolf/profiles.ini"), "[Profile0]\nPath=l.default\n");
  fx::MakeFirefoxProfile(box, "f.default");
  const auto profiles = FindBrowserProfiles();
  EXPECT_THAT(Describe(profiles),
              ElementsAre("firefox:f.default", "librewolf:l.default", "chromium:Default",
                          "google-chrome:Default", "google-chrome-beta:Default", "brave:Default",
                          "microsoft-edge:Default", "microsoft-edge-dev:Default", "vivaldi:Default",
                          "opera:Default", "falkon:default", "falkon:work", "qutebrowser:Default",
                          "epiphany:Default"));
  // Opera's profile is its user data folder; QtWebEngine and WebKit lock the profile itself.
  EXPECT_EQ(profiles[9].profile_dir, H(".config/opera"));
  EXPECT_EQ(profiles[9].cache_dir, H(".cache/opera/Cache/Cache_Data"));
  EXPECT_EQ(profiles[9].lock, BrowserLock::SingletonLock);
  EXPECT_EQ(profiles[10].cache_dir, H(".cache/falkon/default/Cache"));
  EXPECT_EQ(profiles[11].profile_dir, H(".config/falkon/profiles/work"));
  EXPECT_EQ(profiles[11].user_data_dir, profiles[11].profile_dir);
  EXPECT_EQ(profiles[11].lock, BrowserLock::OpenFiles);
  EXPECT_EQ(profiles[12].profile_dir, H(".local/share/qutebrowser/webengine"));
  EXPECT_EQ(profiles[13].family, BrowserFamily::WebKit);
  EXPECT_EQ(profiles[13].cache_dir, H(".cache/epiphany/WebKitCache"));
}

TEST_F(BrowserProfilesTest, FlatpakAndSnapHomesFollowTheBrowsersOwnFolders) {
  Sandbox::MakeDirs(H(".config/chromium/Default"));
  Sandbox::MakeDirs(H(".var/app/org.chromium.Chromium/config/chromium/Default"));
  Sandbox::MakeDirs(H("snap/chromium/common/chromium/Default"));
  Sandbox::MakeDirs(H("snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data"));
  Sandbox::MakeDirs(H(".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default"));
  ASSERT_EQ(symlink("common", H("snap/chromium/current").c_str()), 0);  // reported once
  const auto profiles = FindBrowserProfiles();
  ASSERT_EQ(profiles.size(), 4u);
  EXPECT_EQ(profiles[0].profile_dir, H(".config/chromium/Default"));
  EXPECT_EQ(profiles[1].profile_dir, H(".var/app/org.chromium.Chromium/config/chromium/Default"));
  EXPECT_EQ(profiles[1].cache_dir, H(".var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data"));
  EXPECT_EQ(profiles[2].profile_dir, H("snap/chromium/common/chromium/Default"));
  EXPECT_EQ(profiles[2].cache_dir, H("snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data"));
  EXPECT_EQ(profiles[2].user_data_dir, H("snap/chromium/common/chromium"));
  EXPECT_EQ(profiles[3].browser, "brave");
}

TEST_F(BrowserProfilesTest, FirefoxReadsProfilesIniWithRelativeAndAbsolutePaths) {
  const std::string root = H(".mozilla/firefox");
  Sandbox::MakeDirs(root + "/zz.default-esr");
  Sandbox::MakeDirs(root + "/Profiles/aa.default");
  Sandbox::MakeDirs(box.Path("elsewhere/custom"));
  Sandbox::WriteFile(root + "/profiles.ini",
                     "\xEF\xBB\xBF[Install4F96D1932A9F858E]\r\nDefault=zz.default-esr\r\n"
                     "[Profile1]\r\nName=default-esr\r\nIsRelative=1\r\nPath=zz.default-esr\r\nDefault=1\r\n"
                     "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/aa.default\r\n"
                     "[Profile2]\r\nName=custom\r\nIsRelative=0\r\nPath=" + box.Path("elsewhere/custom") + "\r\n"
                     "[Profile3]\r\nName=missing\r\nIsRelative=1\r\nPath=gone.default\r\n"
                     "[General]\r\nStartWithLastProfile=1\r\nVersion=2\r\n");
  const auto profiles = FindBrowserProfiles();
  ASSERT_THAT(Describe(profiles), ElementsAre("firefox:aa.default", "firefox:custom", "firefox:zz.default-esr"));
  EXPECT_EQ(profiles[0].profile_dir, root + "/Profiles/aa.default");
  EXPECT_EQ(profiles[0].cache_dir, H(".cache/mozilla/firefox/Profiles/aa.default/cache2"));
  EXPECT_EQ(profiles[1].profile_dir, box.Path("elsewhere/custom"));
  EXPECT_EQ(profiles[1].cache_dir, box.Path("elsewhere/custom/cache2"));
  EXPECT_EQ(profiles[2].cache_dir, H(".cache/mozilla/firefox/zz.default-esr/cache2"));
  EXPECT_EQ(profiles[2].user_data_dir, profiles[2].profile_dir);
  EXPECT_EQ(profiles[2].family, BrowserFamily::Firefox);
}

TEST_F(BrowserProfilesTest, FirefoxReadsBothOfItsRootsAndReportsAProfileOnce) {
  Sandbox::MakeDirs(H(".config/mozilla/firefox/x.default-release"));
  Sandbox::WriteFile(H(".config/mozilla/firefox/profiles.ini"), "[Profile0]\nPath=x.default-release\n");
  Sandbox::MakeDirs(H(".mozilla/firefox/y.default"));
  Sandbox::WriteFile(H(".mozilla/firefox/profiles.ini"),
                     "[Profile0]\nIsRelative=1\nPath=y.default\n"
                     "[Profile1]\nIsRelative=0\nPath=" + H(".mozilla/firefox/y.default") + "\n");
  const auto profiles = FindBrowserProfiles();
  ASSERT_THAT(Describe(profiles), ElementsAre("firefox:x.default-release", "firefox:y.default"));
  EXPECT_EQ(profiles[0].profile_dir, H(".config/mozilla/firefox/x.default-release"));
  EXPECT_EQ(profiles[0].cache_dir, H(".cache/mozilla/firefox/x.default-release/cache2"));
}

TEST_F(BrowserProfilesTest, FirefoxFlatpakAndSnapKeepTheirCachesInTheirOwnHomes) {
  Sandbox::MakeDirs(H(".var/app/org.mozilla.firefox/.mozilla/firefox/f.default"));
  Sandbox::WriteFile(H(".var/app/org.mozilla.firefox/.mozilla/firefox/profiles.ini"), "[Profile0]\nPath=f.default\n");
  Sandbox::MakeDirs(H("snap/firefox/common/.mozilla/firefox/s.default"));
  Sandbox::WriteFile(H("snap/firefox/common/.mozilla/firefox/profiles.ini"), "[Profile0]\nPath=s.default\n");
  const auto profiles = FindBrowserProfiles();
  ASSERT_THAT(Describe(profiles), ElementsAre("firefox:f.default", "firefox:s.default"));
  EXPECT_EQ(profiles[0].cache_dir, H(".var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2"));
  EXPECT_EQ(profiles[1].cache_dir, H("snap/firefox/common/.cache/mozilla/firefox/s.default/cache2"));
}

// A FIFO, a folder or a huge sparse file where a profile list belongs neither blocks nor
// aborts the search: that list is taken as absent and the folders still count.
TEST_F(BrowserProfilesTest, HostileProfileListsAreTakenAsAbsent) {
  alarm(60);  // a read that blocks ends the run instead of hanging it
  Sandbox::MakeDirs(H(".config/chromium/Default"));
  ASSERT_EQ(mkfifo(H(".config/chromium/Local State").c_str(), 0644), 0);
  Sandbox::MakeDirs(H(".config/google-chrome/Profile 1"));
  Sandbox::WriteFile(H(".config/google-chrome/Local State"), R"({"profile":{"info_cache":{"Work":{}}}})");
  ASSERT_EQ(truncate(H(".config/google-chrome/Local State").c_str(), off_t{100} << 30), 0);
  Sandbox::MakeDirs(H(".mozilla/firefox/a.default"));
  ASSERT_EQ(mkfifo(H(".mozilla/firefox/profiles.ini").c_str(), 0644), 0);
  Sandbox::MakeDirs(H(".config/mozilla/firefox/profiles.ini"));
  EXPECT_THAT(Describe(FindBrowserProfiles()), ElementsAre("chromium:Default", "google-chrome:Profile 1"));
  alarm(0);
}

// ---- Is the browser running? --------------------------------------------------------------

std::string Hostname() {
  char h[256] = {};
  gethostname(h, sizeof h - 1);
  return h;
}

pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST_F(BrowserProfilesTest, ChromiumRunsWhileItsSingletonLockNamesALiveProcessHere) {
  fx::MakeChromiumProfile(box);
  const BrowserProfile p = FindBrowserProfiles().at(0);
  const std::string lock = p.user_data_dir + "/SingletonLock";
  EXPECT_FALSE(IsBrowserRunning(p));
  const std::pair<std::string, bool> cases[] = {
      {Hostname() + "-" + std::to_string(getpid()), true},
      {Hostname() + "-" + std::to_string(DeadPid()), false},  // a killed browser leaves its lock behind
      {"garbage", false},
      {"not-" + Hostname() + "-1", true}};  // another machine's lock cannot be checked: in use
  for (const auto& [target, running] : cases) {
    unlink(lock.c_str());
    ASSERT_EQ(symlink(target.c_str(), lock.c_str()), 0);
    EXPECT_EQ(IsBrowserRunning(p), running) << target;
  }
}

TEST_F(BrowserProfilesTest, FirefoxRunsWhileAnotherProcessHoldsTheParentLock) {
  fx::MakeFirefoxProfile(box);
  const BrowserProfile p = FindBrowserProfiles().at(0);
  const std::string lock = p.user_data_dir + "/.parentlock";
  EXPECT_FALSE(IsBrowserRunning(p));
  Sandbox::WriteFile(lock, "");
  EXPECT_FALSE(IsBrowserRunning(p));  // the file outlives the browser; only the lock counts

  LockHolder firefox(lock);
  EXPECT_TRUE(IsBrowserRunning(p));
  firefox.Release();
  EXPECT_FALSE(IsBrowserRunning(p));
}

}  // namespace
}  // namespace tidrex::platform
