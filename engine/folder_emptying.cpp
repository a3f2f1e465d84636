#include "engine/folder_emptying.h"

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "platform/deletion_walk.h"
#include "platform/file_system_object.h"
#include "platform/files.h"
#include "platform/locations.h"

namespace tidrex::engine {
namespace {

using platform::FolderIdentity;

// The system trees: nothing at or below them is emptied, except below the exception that
// some of them hold (the shared temporary folder, the user's own runtime folder).
struct SystemTree {
  const char* name;
  const char* exception = nullptr;  // relative to the system root; "%u" the user's id
};
constexpr SystemTree kSystemTrees[] = {
    {"usr"}, {"etc"}, {"var", "var/tmp"}, {"boot"}, {"dev"}, {"proc"}, {"sys"},
    {"run", "run/user/%u"}, {"opt"}, {"srv"}, {"snap"}, {"bin"}, {"sbin"}, {"root"}};

// The first pass may work on two folders side by side.
constexpr unsigned kFirstPassThreads = 2;

std::string Below(const std::string& root, const std::string& rel) {
  return root == "/" ? "/" + rel : root + "/" + rel;
}

std::string WithUid(std::string rel) {
  if (auto at = rel.find("%u"); at != std::string::npos) rel.replace(at, 2, std::to_string(geteuid()));
  return rel;
}

bool Holds(const std::vector<FolderIdentity>& chain, const std::optional<FolderIdentity>& id) {
  return id && std::find(chain.begin(), chain.end(), *id) != chain.end();
}

// The folders directly inside `folder`, on its filesystem; none when it cannot be listed.
std::vector<platform::FsoFolder> SubfoldersOf(const std::string& folder) {
  auto named = platform::OpenNamedFolder(folder);
  if (!named) return {};
  auto object = platform::FileSystemObject().GetFolder(*named, folder);
  auto subs = object ? object->SubFolders() : std::nullopt;
  return subs ? std::move(*subs) : std::vector<platform::FsoFolder>{};
}

// The user's own homes: $HOME and the password database's entry for the running user.
std::vector<std::string> OwnHomes() {
  std::vector<std::string> homes{platform::HomeFolder()};
  for (const platform::UserHome& h : platform::PasswordHomes())
    if (h.uid == geteuid()) homes.push_back(h.home);
  return homes;
}

// Everybody else's homes: the password database's and every folder directly below /home.
// Homes that are the root itself or a shared temporary folder say nothing about a person.
std::vector<std::string> OtherHomes(const std::string& root, const std::vector<FolderIdentity>& own) {
  std::vector<std::string> paths;
  for (const platform::UserHome& h : platform::PasswordHomes())
    if (h.uid != geteuid()) paths.push_back(h.home);
  for (const platform::FsoFolder& sub : SubfoldersOf(Below(root, "home"))) paths.push_back(sub.Path());
  std::vector<FolderIdentity> not_a_home;
  for (const char* rel : {"", "tmp", "var/tmp"})
    if (auto id = platform::IdentityOf(*rel ? Below(root, rel) : root)) not_a_home.push_back(*id);
  if (auto id = platform::IdentityOf("/")) not_a_home.push_back(*id);
  std::vector<std::string> homes;
  for (std::string& p : paths) {
    auto id = platform::IdentityOf(p);
    if (!id || Holds(not_a_home, id) || Holds(own, id)) continue;
    homes.push_back(std::move(p));
  }
  return homes;
}

// The refusal, judged on the opened folder itself: device and inode against every
// protected folder, whatever names lead to either.
bool IsRefused(const platform::NamedFolder& folder) {
  const std::vector<FolderIdentity> chain = folder.Chain();
  if (chain.empty()) return true;  // what lies above cannot be told: not safe to judge
  const FolderIdentity self = chain.front();
  const std::string root = platform::SystemRoot();

  // At or below a system tree, unless at or below its exception.
  auto at_or_below = [&](const std::string& path) { return Holds(chain, platform::IdentityOf(path)); };
  for (const SystemTree& tree : kSystemTrees) {
    if (!at_or_below(Below(root, tree.name))) continue;
    if (tree.exception && at_or_below(Below(root, WithUid(tree.exception)))) continue;
    return true;
  }
  // "lib", "lib32", "lib64", "libx32" and whatever else a system keeps its libraries in.
  for (const platform::FsoFolder& sub : SubfoldersOf(root))
    if (sub.Name().rfind("lib", 0) == 0 && at_or_below(sub.Path())) return true;

  // At or above the root, the user's homes, the application folder, the folder of
  // "Clean.ini" (emptying it would wipe the settings) and /home.
  std::vector<FolderIdentity> own;
  std::vector<std::string> above{root, Below(root, "home"), platform::ApplicationFolder(),
                                 platform::ConfigurationFolder()};
  for (const std::string& home : OwnHomes()) {
    above.push_back(home);
    if (auto id = platform::IdentityOf(home)) own.push_back(*id);
  }
  for (const std::string& p : above)
    if (Holds(platform::ChainOf(p), self)) return true;

  // Other people's homes, at, above or below.
  for (const std::string& home : OtherHomes(root, own))
    if (at_or_below(home) || Holds(platform::ChainOf(home), self)) return true;

  // A folder of somebody else's is theirs to empty. The shared temporary folders are the
  // exception: their sticky bit keeps other users' files from us.
  if (folder.owner() != geteuid()) {
    for (const char* rel : {"tmp", "var/tmp"})
      if (platform::IdentityOf(Below(root, rel)) == std::optional<FolderIdentity>(self)) return false;
    return true;
  }
  return false;
}

// A folder that does not exist (yet) is judged by its name, normalised.
bool IsRefusedByName(const std::string& folder) {
  const std::string path = platform::NormalizePathText(folder);
  const std::string root = platform::SystemRoot();
  auto at_or_below = [&](const std::string& top) {
    return top == "/" || path == top || path.rfind(top + "/", 0) == 0;
  };
  for (const SystemTree& tree : kSystemTrees) {
    if (!at_or_below(Below(root, tree.name))) continue;
    if (tree.exception && at_or_below(Below(root, WithUid(tree.exception)))) continue;
    return true;
  }
  // Any first-level folder whose name starts with "lib".
  if (path.rfind(Below(root, "lib"), 0) == 0) return true;
  std::vector<std::string> above{root, Below(root, "home"),
                                 platform::NormalizePathText(platform::ApplicationFolder()),
                                 platform::NormalizePathText(platform::ConfigurationFolder())};
  for (const std::string& home : OwnHomes()) above.push_back(platform::NormalizePathText(home));
  for (const std::string& p : above)
    if (path == "/" || p == path || p.rfind(path + "/", 0) == 0) return true;
  return false;
}

}  // namespace

bool IsFolderRefusedForEmptying(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return true;
  platform::NamedFolderError why;
  if (auto named = platform::OpenNamedFolder(folder, &why)) return IsRefused(*named);
  return why == platform::NamedFolderError::kForeignLink || IsRefusedByName(folder);
}

bool DeleteFilesRecursive(const std::string& folder_path, bool recurse) {
  platform::FileSystemObject fso;
  auto folder = fso.GetFolder(folder_path);
  if (!folder) return false;
  auto named = platform::OpenNamedFolder(folder->Path());
  if (!named) return false;
  if (!recurse) {
    auto files = folder->Files();
    if (!files) return false;
    for (const platform::FsoFile& file : *files) file.Delete();
    return true;
  }
  platform::DeletionRules files_only;
  files_only.folders = false;
  files_only.sorted = true;
  return !platform::DeleteInFolder(named->fd(), platform::Selection::All(), files_only).ended_early;
}

EmptyingReport EmptyFolder(const std::string& folder) {
  EmptyingReport report;
  if (folder.empty() || folder.front() != '/') {
    report.refused = true;
    return report;
  }
  // The folder is opened once; the refusal judges that open folder and every pass works
  // from it, so nothing in the named path can be swapped meanwhile. A missing folder has
  // nothing to delete.
  platform::NamedFolderError why;
  auto named = platform::OpenNamedFolder(folder, &why);
  if (!named) {
    report.refused = why == platform::NamedFolderError::kForeignLink;
    return report;
  }
  if (IsRefused(*named)) {
    report.refused = true;
    return report;
  }
  report.found = true;
  const std::string normal = platform::NormalizePathText(folder);
  report.working_folder = normal == "/" ? "/" : normal + "/";

  // First pass: everything directly inside, as far as it can go; read-only folders of the
  // user's own are opened up, as the shell deletion removes read-only items.
  platform::DeletionRules first;
  first.threads = kFirstPassThreads;
  first.open_up_top = true;
  report.first_pass_left = platform::DeleteInFolder(named->fd(), platform::Selection::All(), first).left;

  // Second pass: each remaining subfolder, not forced.
  platform::FileSystemObject fso;
  if (auto folder_object = fso.GetFolder(*named, folder))
    if (auto folders = folder_object->SubFolders())
      for (const platform::FsoFolder& sub : *folders) {
        platform::FileSystemObject fresh;
        if (!fresh.DeleteFolder(sub)) ++report.second_pass_failures;
      }

  // Third pass: file by file; the folders that survived stay.
  platform::DeletionRules third;
  third.folders = false;
  third.sorted = true;
  third.open_up_top = true;
  const platform::DeletionResult files = platform::DeleteInFolder(named->fd(), platform::Selection::All(), third);
  report.third_pass_failures = files.left;
  report.third_pass_ended_early = files.ended_early;
  return report;
}

void EmptyTempFolder() { EmptyFolder(TempFolder()); }

void EmptyUserFolder() {
  // A value longer than a read may carry is unset: its first characters name another folder.
  const std::string folder = ReadIniValueWhole(ConfigFilePath(), "User", "sFile0", "0");
  if (folder.size() > kLongestIniValue) return;
  EmptyFolder(folder);
}

}  // namespace tidrex::engine
