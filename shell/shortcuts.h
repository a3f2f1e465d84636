// The auto-start entry. Where Windows has a "Tidrex.lnk" shortcut in the StartUp
// folder, this program writes a freedesktop autostart entry "Tidrex.desktop".
#pragma once

#include <string>

namespace tidrex::shell {

inline constexpr const char* kShortcutFileName = "Tidrex.desktop";
inline constexpr const char* kExecutableName = "Quorvel";
inline constexpr const char* kIconFileName = "tidrex.svg";
inline constexpr const char* kThemeIconName = "tidrex";

// What the autostart entry starts: the installed `tidrex` command when this executable was
// installed with it, else application folder + "Quorvel". An entry that pointed into a build
// folder would stop working silently once that folder is rebuilt or deleted.
std::string AutostartTarget();

// The folder of a shell folder identifier followed by "/", or the empty text.
std::string GetSpecialFolder(int csidl);

// Writes the entry `name` + ".desktop" for `target` into the folder that `keyword` selects
// ("StartUp", "RecentFolder", "CommonStartUp", "DeskTop"). An unknown keyword or folder ends
// it silently; a failed write ends it with the message box "Create Shortcut".
void CreateShortcut(const std::string& target, const std::string& name, const std::string& keyword);

// The text of a desktop entry that starts `target`, with `icon` (empty for none).
std::string DesktopEntryText(const std::string& target, const std::string& name, const std::string& icon);

// Whether the desktop entry at `entry` starts a program other than `target` that is not
// there any more (an absolute path that is gone, or a name found on no PATH folder): the
// program was moved, and login would start nothing. An entry without Exec is the user's.
bool EntryStartsAMissingProgram(const std::string& entry, const std::string& target);

// `path` quoted as one argument of a desktop entry's Exec key, with the key file's escapes.
std::string QuoteExecArgument(const std::string& path);

}  // namespace tidrex::shell
