// Module WinProc, resident part: the hooked window procedure of the start-up form.
#include "platform/notify_icon.h"
#include "shell/form1a.h"
#include "shell/win_proc.h"

namespace tidrex::shell {
namespace {
platform::WindowProc g_saved_proc = nullptr;
}  // namespace

std::intptr_t TrayWindowProc(platform::WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam) {
  Form1a* form = Form1aSlot().Loaded();
  if (!form || hwnd != form->Hwnd() || message != kTrayCallbackMessage)
    return platform::CallWindowProc(g_saved_proc, hwnd, message, wparam, lparam);
  if (lparam == platform::kWmLButtonUp || lparam == platform::kWmRButtonUp) {
    form->SetForeground();
    form->PopupMenu(form->mnuPopUp);
  }
  return 0;
}

void HookWindow(platform::WindowHandle hwnd) {
  platform::WindowProc previous = platform::SetWindowLong(hwnd, platform::kGwlWndProc, &TrayWindowProc);
  // Hooking twice must not save the hook itself: passing a message on would loop for ever.
  if (previous != &TrayWindowProc) g_saved_proc = previous;
}

void UnhookWindow(platform::WindowHandle hwnd) {
  if (!g_saved_proc) return;
  platform::SetWindowLong(hwnd, platform::kGwlWndProc, g_saved_proc);
  g_saved_proc = nullptr;
}

platform::WindowProc SavedWindowProc() { return g_saved_proc; }

}  // namespace tidrex::shell
