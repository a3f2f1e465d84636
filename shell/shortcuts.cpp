#include "shell/shortcuts.h"

#include "platform/atomic_file.h"
#include "platform/forms.h"
#include "platform/locations.h"
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

}  // namespace

std::string AutostartTarget() {
  const std::string command = platform::InstalledCommand();
  if (!command.empty()) return command;
  std::string folder = platform::ApplicationFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + kExecutableName;
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
