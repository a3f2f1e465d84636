#include "tests/support/sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/locations.h"

namespace tidrex::testing {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
  std::string tmpl = (fs::temp_directory_path() / "tidrex-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  for (const char* d : {"app", "home", "home/.config", "home/.cache", "home/.local/share", "temp"})
    MakeDirs(Path(d));
  SetEnv("HOME", Home());
  SetEnv("XDG_CONFIG_HOME", Path("home/.config"));
  SetEnv("XDG_CACHE_HOME", Path("home/.cache"));
  SetEnv("XDG_DATA_HOME", Path("home/.local/share"));
  SetEnv("TEMP", std::nullopt);
  SetEnv("Temp", std::nullopt);
  SetEnv("temp", std::nullopt);
  SetEnv("TMP", std::nullopt);
  // The user's runtime folder and session bus are the desktop's: a test registers no tray
  // item and claims no instance there.
  MakeDirs(Path("run"));
  chmod(Path("run").c_str(), 0700);
  SetEnv("XDG_RUNTIME_DIR", Path("run"));
  SetEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  platform::SetApplicationFolderForTesting(AppFolder());
}

Sandbox::~Sandbox() {
  platform::SetApplicationFolderForTesting("");
  platform::SetMountTableForTesting("");
  platform::SetSysfsRootForTesting("");
  platform::SetSystemRootForTesting("");
  platform::SetPasswordFileForTesting("");
  for (auto& [name, value] : saved_env_) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable so removal succeeds.
  for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
  }
  chmod(root_.c_str(), 0700);
  fs::remove_all(root_, ec);
}

std::string Sandbox::Path(const std::string& relative) const { return root_ + "/" + relative; }

void Sandbox::SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (!saved_env_.count(name)) {
    const char* old = std::getenv(name.c_str());
    saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  if (value) setenv(name.c_str(), value->c_str(), 1);
  else unsetenv(name.c_str());
}

void Sandbox::WriteFile(const std::string& path, const std::string& content) {
  MakeDirs(fs::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Sandbox::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Sandbox::Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void Sandbox::MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

}  // namespace tidrex::testing
