#include "engine/path_helpers.h"

#include "platform/files.h"
#include "platform/locations.h"
#include "platform/shell_folders.h"

namespace tidrex::engine {
namespace {

std::string TrimBlanks(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

int DriveTypeOf(const std::string& path) {
  std::string p = TrimBlanks(path);
  if (p.empty()) return 0;
  int type = platform::DriveTypeOfPath(p);
  return type >= 1 && type <= 6 ? type : 0;
}

std::string LogicalDriveList() {
  std::string list;
  for (const auto& m : platform::ListMounts()) {
    list += m.mount_point;
    list += '\0';
  }
  return list;
}

bool ItemExists(const std::string& path) {
  std::string name = TrimBlanks(path);
  if (name.size() > 1 && name.back() == '/') name.pop_back();
  // Not absolute is the stand-in for a first character that names no drive.
  if (name.empty() || name[0] != '/') return false;
  if (DriveTypeOf(name) == 0) return false;
  if (name == "/") return true;
  for (const auto& m : platform::ListMounts())
    if (m.mount_point == name) return true;
  return platform::AnyEntryMatches(name);
}

void ShellDelete(const std::string& path) { platform::DeletePath(path); }

void ShellDeleteList(const std::vector<std::string>& paths) { platform::DeletePaths(paths); }

std::string GetFolderPath(int identifier) { return platform::SpecialFolderPath(identifier); }

std::string TempFolder() { return platform::EnvironmentIgnoringCase("Temp").value_or(""); }

bool IsWindowsXP() { return false; }

}  // namespace tidrex::engine
