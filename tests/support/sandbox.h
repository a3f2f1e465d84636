// A throw-away folder that stands in for every location the program touches: the
// application folder, home, the XDG folders (the runtime folder "run" included) and "Temp";
// no session bus. Restores them when it goes.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace tidrex::testing {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return root_; }      // no trailing "/"
  std::string Path(const std::string& relative) const;   // Root() + "/" + relative
  std::string AppFolder() const { return Path("app/"); }
  std::string IniPath() const { return Path("app/Clean.ini"); }
  std::string Home() const { return Path("home"); }
  std::string TempDir() const { return Path("temp"); }

  // Sets or unsets an environment variable until the sandbox goes.
  void SetEnv(const std::string& name, const std::optional<std::string>& value);

  // File helpers for fixtures.
  static void WriteFile(const std::string& path, const std::string& content);
  static std::string ReadFile(const std::string& path);
  static bool Exists(const std::string& path);  // lstat: a dangling link exists
  static void MakeDirs(const std::string& path);

 private:
  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_env_;
};

}  // namespace tidrex::testing
