#include "shell/shortcuts.h"

#include <unistd.h>

#include <optional>

#include "platform/atomic_file.h"
#include "platform/forms.h"
#include "platform/locations.h"
#include "platform/small_file.h"
#include "platform/shell_folders.h"

namespace tidrex::shell {
namespace {

int FolderOfKeyword(const std::string& keyword) {
  if (keyword == "StartUp") return platform::kCsidlStartup;
  if (keyword == "RecentFolder") return platform::kCsidlRecent;
  if (keyword == "CommonStartUp") return platform::kCsidlCommonStartMenu;
  if (keyword == "DeskTop") return platform::kCsidlDesktop;
  return -1;
}

// A string value of the key file: backslash, newline, tab and carriage return escaped.
std::string KeyFileString(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// The installed command's icon is in the icon theme; any other copy carries one beside it.
std::string IconFor(const std::string& target) {
  if (!target.empty() && target == platform::InstalledCommand()) return kThemeIconName;
  const std::size_t slash = target.rfind('/');
  return (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + kIconFileName;
}


// The first argument of an Exec value (key-file escapes already undone), unquoted.
std::string FirstExecArgument(const std::string& exec) {
  std::string out;
  std::size_t i = exec.find_first_not_of(' ');
  if (i == std::string::npos) return out;
  if (exec[i] == '"') {
    for (++i; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
      out += exec[i];
    }
    return out;
  }
  for (; i < exec.size() && exec[i] != ' '; ++i) out += exec[i];
  return out;
}

// The Exec value of the [Desktop Entry] group, with the key file's escapes undone.
std::optional<std::string> ExecOf(const std::string& text) {
  bool in_group = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_group = line == "[Desktop Entry]";
      continue;
    }
    if (!in_group || line.rfind("Exec", 0) != 0) continue;
    std::size_t eq = line.find_first_not_of(' ', 4);
    if (eq == std::string::npos || line[eq] != '=') continue;
    std::string value = line.substr(line.find_first_not_of(' ', eq + 1) == std::string::npos
                                        ? line.size()
                                        : line.find_first_not_of(' ', eq + 1));
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        const char n = value[++i];
        unescaped += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
      } else {
        unescaped += value[i];
      }
    }
    return unescaped;
  }
  return std::nullopt;
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

}  // namespace

std::string AutostartTarget() {
  const std::string command = platform::InstalledCommand();
  if (!command.empty()) return command;
  std::string folder = platform::ApplicationFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + kExecutableName;
}

bool EntryStartsAMissingProgram(const std::string& entry, const std::string& target) {
  // Whatever sits at the entry's place, reading it never blocks.
  const auto exec = ExecOf(platform::ReadSmallFileText(entry));
  if (!exec) return false;
  const std::string program = FirstExecArgument(*exec);
  if (program.empty() || program == target) return false;
  if (program.find('/') != std::string::npos) return program[0] == '/' && !Executable(program);
  const auto path = platform::Environment("PATH");
  std::string folders = path ? *path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && Executable(folder + "/" + program)) return false;
    start = end + 1;
  }
  return true;
}

std::string GetSpecialFolder(int csidl) {
  std::string path = platform::SpecialFolderPath(csidl);
  if (path.empty()) return "";
  return path + "/";
}

std::string QuoteExecArgument(const std::string& path) {
  // Inside double quotes, the Exec key wants '"', '`', '$' and '\' backslash-escaped and a
  // literal '%' doubled; the key file then escapes every backslash once more.
  std::string exec = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
    if (c == '%') exec += '%';
    exec += c;
  }
  exec += '"';
  return KeyFileString(exec);
}

std::string DesktopEntryText(const std::string& target, const std::string& name, const std::string& icon) {
  std::string text = "[Desktop Entry]\nType=Application\nName=" + KeyFileString(name) + "\n";
  text += "Comment=Cleans the temporary folder, a chosen folder and the browsers' caches\n";
  text += "Exec=" + QuoteExecArgument(target) + "\n";
  if (!icon.empty()) text += "Icon=" + KeyFileString(icon) + "\n";
  text += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
  // Started once the panel is up, so that the icon has a tray to go to at once.
  text += "X-GNOME-Autostart-Delay=3\nX-KDE-autostart-after=panel\nX-LXQt-Need-Tray=true\n";
  return text;
}

void CreateShortcut(const std::string& target, const std::string& name, const std::string& keyword) {
  std::string step;
  const std::string file_name = name + ".desktop";
  const int csidl = FolderOfKeyword(keyword);
  const std::string dest_folder = csidl < 0 ? std::string() : GetSpecialFolder(csidl);
  step = "Error retrieving folder location.";
  if (dest_folder.empty()) {
    forms::Screen::SetMousePointer(forms::kCursorDefault);
    return;
  }
  // The entry is written directly: there is no recent-documents detour and nothing to wait for.
  step = "Error creating Startup shortcut.";
  const std::string icon = IconFor(target);
  const bool ok = platform::MakeFolders(dest_folder.substr(0, dest_folder.size() - 1)) &&
                  platform::WriteFileAtomically(dest_folder + file_name, DesktopEntryText(target, name, icon));
  if (!ok) forms::MsgBox("Error creating Startup shortcut. " + step, forms::kMbExclamationOk, "Create Shortcut");
  forms::Screen::SetMousePointer(forms::kCursorDefault);
}

}  // namespace tidrex::shell
