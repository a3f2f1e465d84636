// Window procedures and messages for the forms: the part of the Windows message model that
// the tray icon relies on. Each form has a window procedure, the default one until a
// caller replaces it; messages sent to a form's handle reach its current procedure.
#pragma once

#include <cstdint>

#include "platform/forms.h"

namespace tidrex::platform {

using forms::WindowHandle;
using WindowProc = std::intptr_t (*)(WindowHandle hwnd, std::uint32_t message,
                                     std::uintptr_t wparam, std::intptr_t lparam);

inline constexpr int kGwlWndProc = -4;

// Replaces the window procedure of `hwnd` (index kGwlWndProc) and returns the one it
// replaced. Nothing changes, and nullptr is returned, for another index or a handle that
// names no living form. A nullptr procedure restores the default one.
WindowProc SetWindowLong(WindowHandle hwnd, int index, WindowProc proc);

// The window's current procedure (the default one unless replaced), nullptr for no window.
WindowProc GetWindowProc(WindowHandle hwnd);

// Calls `proc` with the four arguments; a nullptr procedure is the default one.
std::intptr_t CallWindowProc(WindowProc proc, WindowHandle hwnd, std::uint32_t message,
                             std::uintptr_t wparam, std::intptr_t lparam);

// The default procedure: this platform has no message of its own to handle, so it answers 0.
std::intptr_t DefWindowProc(WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
                            std::intptr_t lparam);

// Delivers a message to the window's current procedure at once; 0 when no such window.
std::intptr_t SendMessage(WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
                          std::intptr_t lparam);

}  // namespace tidrex::platform
