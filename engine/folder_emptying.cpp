#include "engine/folder_emptying.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <vector>

#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "platform/file_system_object.h"
#include "platform/files.h"
#include "platform/locations.h"

namespace tidrex::engine {
namespace {

constexpr const char* kSystemFolders[] = {
    "/bin",  "/boot", "/dev",  "/etc", "/home", "/lib", "/lib32", "/lib64", "/libx32",
    "/opt",  "/proc", "/root", "/run", "/sbin", "/srv", "/sys",   "/usr",   "/var"};

// The first pass may work on two folders side by side.
constexpr unsigned kFirstPassThreads = 2;

std::optional<std::string> Resolved(const std::string& path) {
  char buffer[PATH_MAX];
  if (!realpath(path.c_str(), buffer)) return std::nullopt;
  return std::string(buffer);
}

// `folder` is `protected_folder` or one of the folders above it (both normalised).
bool IsSelfOrAbove(const std::string& folder, const std::string& protected_folder) {
  if (folder == "/") return true;
  if (protected_folder.compare(0, folder.size(), folder) != 0) return false;
  return protected_folder.size() == folder.size() || protected_folder[folder.size()] == '/';
}

bool IsRefusedAbsolute(const std::string& folder, const std::vector<std::string>& system,
                       const std::vector<std::string>& protected_folders) {
  if (folder == "/") return true;
  for (const std::string& s : system)
    if (folder == s) return true;
  for (const std::string& p : protected_folders)
    if (IsSelfOrAbove(folder, p)) return true;
  return false;
}

// Pass 3: the files of `folder`, then each subfolder in turn. False when a folder that
// could not be listed ended the walk: the rest of every level is then left unvisited.
bool WalkFiles(const platform::FsoFolder& folder, bool recurse, std::size_t& failures) {
  auto files = folder.Files();
  if (!files) return false;
  // One file at a time, relative to the folder it was listed in: a folder swapped for a
  // link meanwhile cannot redirect the deletion, and a name holding "*" or "?" is a name.
  for (const platform::FsoFile& file : *files)
    if (!file.Delete()) ++failures;
  if (!recurse) return true;
  auto folders = folder.SubFolders();
  if (!folders) return false;
  for (const platform::FsoFolder& sub : *folders) {
    // A subfolder that is gone (or is no longer the folder that was listed) cannot be got:
    // that nested walk alone returns, and this one goes on.
    if (!sub.StillThere()) continue;
    if (!WalkFiles(sub, true, failures)) return false;
  }
  return true;
}

}  // namespace

bool IsFolderRefusedForEmptying(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return true;
  std::vector<std::string> system;
  for (const char* s : kSystemFolders) {
    system.emplace_back(s);
    // On a merged system /bin is /usr/bin: the folder it stands for is refused as well.
    if (auto r = Resolved(s); r && *r != s) system.push_back(*r);
  }
  std::vector<std::string> protected_folders;
  // The folder of "Clean.ini" too: emptying it, or a folder above it, would wipe the settings.
  for (const std::string& p : {platform::HomeFolder(), platform::ApplicationFolder(), platform::ConfigurationFolder()}) {
    if (p.empty() || p.front() != '/') continue;
    protected_folders.push_back(platform::NormalizePathText(p));
    if (auto r = Resolved(p)) protected_folders.push_back(*r);
  }
  if (IsRefusedAbsolute(platform::NormalizePathText(folder), system, protected_folders))
    return true;
  if (auto r = Resolved(folder); r && IsRefusedAbsolute(*r, system, protected_folders))
    return true;
  return false;
}

bool DeleteFilesRecursive(const std::string& folder_path, bool recurse) {
  platform::FileSystemObject fso;
  auto folder = fso.GetFolder(folder_path);
  if (!folder) return false;
  std::size_t failures = 0;
  return WalkFiles(*folder, recurse, failures);
}

EmptyingReport EmptyFolder(const std::string& folder) {
  EmptyingReport report;
  if (IsFolderRefusedForEmptying(folder)) {
    report.refused = true;
    return report;
  }
  // Every pass works on the folder the name resolves to now, so that nothing in the named
  // path can be swapped for a link while they run. A missing folder has nothing to delete.
  auto resolved = Resolved(folder);
  if (!resolved) return report;
  platform::FileSystemObject fso;
  auto folder_object = fso.GetFolder(*resolved);
  if (!folder_object) return report;
  report.found = true;
  const std::string working = *resolved == "/" ? "/" : *resolved + "/";
  report.working_folder = working;

  // First pass: everything directly inside, as far as it can go.
  report.first_pass_left = platform::DeletePathParallel(working + "*.*", kFirstPassThreads);

  // Second pass: each remaining subfolder, not forced.
  if (auto folders = folder_object->SubFolders()) {
    for (const platform::FsoFolder& sub : *folders) {
      platform::FileSystemObject fresh;
      if (!fresh.DeleteFolder(working + sub.Name())) ++report.second_pass_failures;
    }
  }

  // Third pass: file by file; the folders that survived stay.
  if (auto again = fso.GetFolder(working))
    report.third_pass_ended_early = !WalkFiles(*again, true, report.third_pass_failures);
  else
    report.third_pass_ended_early = true;
  return report;
}

void EmptyTempFolder() { EmptyFolder(TempFolder()); }

void EmptyUserFolder() { EmptyFolder(ReadIniValue(ConfigFilePath(), "User", "sFile0", "0")); }

}  // namespace tidrex::engine
