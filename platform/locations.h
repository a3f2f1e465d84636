// Where the program finds the places it works on: its own folder, the user's home, the
// XDG folders, the environment and the mount table. Everything that names a location of
// the machine goes through here, so a test can point every one of them at a sandbox.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tidrex::platform {

// The folder of the running executable, with a trailing "/".
std::string ApplicationFolder();

// The folder that holds "Clean.ini", with a trailing "/": the application folder while the
// user may write into it (a portable copy, a per-user install, a build folder), else
// $XDG_CONFIG_HOME/Tidrex/, created when missing. A system-wide install cannot be written
// by its users, and settings written beside it would be lost without a word. Decided afresh
// on every call, like every other location here.
std::string ConfigurationFolder();

// The `tidrex` command of an install (<prefix>/bin/tidrex for <prefix>/libexec/tidrex/, when
// it leads to this very executable), or the empty text when the program runs from anywhere
// else: a build folder, a copied folder, a command that is gone or now leads elsewhere.
std::string InstalledCommand();

// The value of an environment variable, or nothing when it is unset.
std::optional<std::string> Environment(const std::string& name);

// The value of the first environment variable whose name equals `name` ignoring ASCII
// case (the way Windows looks variables up), or nothing.
std::optional<std::string> EnvironmentIgnoringCase(const std::string& name);

// $HOME, else the password database; never with a trailing "/".
std::string HomeFolder();

// $XDG_CONFIG_HOME / $XDG_CACHE_HOME / $XDG_DATA_HOME when set to an absolute path,
// else their defaults under the home folder.
std::string XdgConfigHome();
std::string XdgCacheHome();
std::string XdgDataHome();

// The XDG user folder named by `key` (for example "XDG_DESKTOP_DIR") in
// user-dirs.dirs, or `fallback` below the home folder.
std::string XdgUserDir(const std::string& key, const std::string& fallback);

// The mount table that drive lookups read (normally /proc/self/mountinfo).
std::string MountTablePath();

// The sysfs root that removable-device lookups read (normally /sys).
std::string SysfsRoot();

// The root of the system tree that the emptying refusals name (normally "/", with no
// trailing "/" except for that).
std::string SystemRoot();

// The home folders of the password database (normally through getpwent), with their users.
struct UserHome {
  uid_t uid;
  std::string home;
};
std::vector<UserHome> PasswordHomes();

// Test seams. An empty text restores the real location.
void SetApplicationFolderForTesting(const std::string& folder);
void SetMountTableForTesting(const std::string& path);
void SetSysfsRootForTesting(const std::string& path);
void SetSystemRootForTesting(const std::string& path);
void SetPasswordFileForTesting(const std::string& path);  // a file in passwd(5) format

}  // namespace tidrex::platform
