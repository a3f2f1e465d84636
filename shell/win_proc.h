// Module WinProc: the command-line split (and, in resident mode, the tray window procedure).
#pragma once

#include <string>

namespace tidrex::shell {

// The last argument of `command_line` split at blanks, "/", tabs and double quotes, at
// most `max_args` arguments collected; the empty text when there is none.
std::string GetLastArgument(const std::string& command_line, int max_args = 10);

// The command line as Windows would hand it over: the arguments joined with single blanks.
std::string JoinCommandLine(int argc, char** argv);

// True when the command line's last argument is exactly "a" or "A".
bool IsUnattendedCommandLine(const std::string& command_line);

}  // namespace tidrex::shell
