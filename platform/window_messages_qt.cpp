// Window procedures of the forms.
#include "platform/window_messages.h"

#include <map>

namespace tidrex::platform {
namespace {

std::map<WindowHandle, WindowProc>& Procs() {
  static auto* m = new std::map<WindowHandle, WindowProc>();
  return *m;
}

}  // namespace

std::intptr_t DefWindowProc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; }

WindowProc GetWindowProc(WindowHandle hwnd) {
  if (!forms::FormFromHandle(hwnd)) return nullptr;
  auto it = Procs().find(hwnd);
  return it == Procs().end() ? &DefWindowProc : it->second;
}

WindowProc SetWindowLong(WindowHandle hwnd, int index, WindowProc proc) {
  if (index != kGwlWndProc) return nullptr;
  WindowProc old = GetWindowProc(hwnd);
  if (!old) return nullptr;
  if (!proc || proc == &DefWindowProc)
    Procs().erase(hwnd);
  else
    Procs()[hwnd] = proc;
  return old;
}

std::intptr_t CallWindowProc(WindowProc proc, WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam) {
  return (proc ? proc : &DefWindowProc)(hwnd, message, wparam, lparam);
}

std::intptr_t SendMessage(WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
  WindowProc proc = GetWindowProc(hwnd);
  return proc ? proc(hwnd, message, wparam, lparam) : 0;
}

}  // namespace tidrex::platform
