// The notification-area icon, standing in for the Windows shell's Shell_NotifyIcon. Where a
// StatusNotifierWatcher with a host runs (the panels and bars of today's desktops, X11 and
// Wayland), the icon is a StatusNotifierItem whose menu the host draws at the icon; else it
// is an XEmbed tray icon. Whichever tray comes or goes later is followed for the whole
// session. Mouse events on the icon reach the owning window's procedure as the record's
// callback message, with the icon's identifier as the first parameter and a Windows mouse
// message as the second; a choice in a host-drawn menu runs the item's Click as a click in
// the program's own popup menu does.
#pragma once

#include <cstdint>
#include <string>

#include "platform/forms.h"

class QSystemTrayIcon;

namespace tidrex::platform {

inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;

inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;

// The mouse messages the callback carries.
inline constexpr std::intptr_t kWmMouseMove = 512;
inline constexpr std::intptr_t kWmLButtonUp = 514;
inline constexpr std::intptr_t kWmLButtonDblClk = 515;
inline constexpr std::intptr_t kWmRButtonUp = 517;
inline constexpr std::intptr_t kWmMButtonUp = 520;

struct NotifyIconData {
  std::uint32_t size = 0;
  forms::WindowHandle window = 0;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callback_message = 0;
  std::string icon;  // a resource or file path; empty: the application's icon
  std::string tip;   // up to its first NUL, at most 63 characters
  // The menu a StatusNotifierItem host shows for the icon; nullptr for none.
  forms::MenuItem* menu = nullptr;
};

// Adds, modifies or deletes the icon named by window and identifier. Adding answers 1 when
// the icon is registered: shown in the tray now, or, when no tray is there yet, as soon as
// one comes up. It answers 0 for a window that is not a living form, an icon that already
// exists, or no application. Deleting or modifying an icon that does not exist answers 0.
int ShellNotifyIcon(std::uint32_t command, const NotifyIconData& data);

// For tests: whether the icon is registered, its tip, and the XEmbed icon behind it
// (nullptr while a StatusNotifierItem host shows it).
bool NotifyIconExists(forms::WindowHandle window, std::uint32_t id);
std::string NotifyIconTip(forms::WindowHandle window, std::uint32_t id);
QSystemTrayIcon* NotifyIconObjectForTesting(forms::WindowHandle window, std::uint32_t id);
// The icon's StatusNotifierItem bus name, empty when it has none (no session bus).
std::string NotifyIconServiceForTesting(forms::WindowHandle window, std::uint32_t id);

}  // namespace tidrex::platform
