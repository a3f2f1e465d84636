// Module WinProc: the command-line split (and, in resident mode, the tray window procedure).
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace tidrex::shell {

// The last argument of `command_line` split at blanks, "/", tabs and double quotes, at
// most `max_args` arguments collected; the empty text when there is none.
std::string GetLastArgument(const std::string& command_line, int max_args = 10);

// The command line as Windows would hand it over: the arguments joined with single blanks.
std::string JoinCommandLine(int argc, char** argv);

// True when the command line's last argument is exactly "a" or "A".
bool IsUnattendedCommandLine(const std::string& command_line);

// The tray's callback message: the first user message plus one.
inline constexpr std::uint32_t kTrayCallbackMessage = 1025;

// The start-up form's window procedure while it is hooked (in tray_win_proc.cpp): a left or
// right button release on the tray icon brings Form1a forward and opens its popup menu at
// the mouse; other tray messages do nothing; every other message goes to the saved procedure.
std::intptr_t TrayWindowProc(platform::WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam);

// Installs TrayWindowProc on `hwnd` and keeps the procedure it replaced.
void HookWindow(platform::WindowHandle hwnd);
// Puts the saved procedure back on `hwnd` when one is saved, and forgets it.
void UnhookWindow(platform::WindowHandle hwnd);
// The procedure HookWindow replaced; nullptr while no hook is installed.
platform::WindowProc SavedWindowProc();

}  // namespace tidrex::shell
