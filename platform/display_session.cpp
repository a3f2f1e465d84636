#include "platform/display_session.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/locations.h"

namespace tidrex::platform {
namespace {

std::string Env(const char* name) {
  auto v = Environment(name);
  return v ? *v : std::string();
}

std::string WaylandSocketPath() {
  std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty()) return "";
  if (name[0] == '/') return name;
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  return runtime.empty() ? std::string() : runtime + "/" + name;
}

bool WaylandAnswers() {
  if (!Env("WAYLAND_SOCKET").empty()) return true;  // an inherited, connected socket
  const std::string path = WaylandSocketPath();
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// The X library Qt's xcb plugin loads anyway; looked up at run time so that nothing else
// of the program links against it.
bool XAnswers() {
  if (Env("DISPLAY").empty()) return false;
  void* lib = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect_x = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
  bool ok = false;
  if (connect_x && has_error && disconnect) {
    void* c = connect_x(nullptr, nullptr);
    ok = c && has_error(c) == 0;
    if (c) disconnect(c);  // an erroneous connection is freed the same way
  }
  dlclose(lib);
  return ok;
}

}  // namespace

bool PrepareGraphicalSession() {
  const std::string chosen = Env("QT_QPA_PLATFORM");
  if (!chosen.empty()) {
    // A list such as "wayland;xcb" is tried in order; one platform that can start is enough.
    std::size_t start = 0;
    while (start <= chosen.size()) {
      std::size_t end = chosen.find(';', start);
      if (end == std::string::npos) end = chosen.size();
      std::string name = chosen.substr(start, end - start);
      name = name.substr(0, name.find(':'));  // options such as offscreen:configfile=...
      if (name.rfind("wayland", 0) == 0) {
        if (WaylandAnswers()) return true;
      } else if (name == "xcb") {
        if (XAnswers()) return true;
      } else if (!name.empty()) {
        return true;  // offscreen, minimal, vnc, eglfs, linuxfb: no display server to ask
      }
      start = end + 1;
    }
    return false;
  }
  const bool wayland = WaylandAnswers();
  const bool x = XAnswers();
  if (wayland != x) setenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb", 1);
  return wayland || x;
}

std::string GraphicalSessionName() {
  std::string name;
  const std::string platform = Env("QT_QPA_PLATFORM");
  const std::string wayland = Env("WAYLAND_DISPLAY");
  std::string display = Env("DISPLAY");
  if (platform.rfind("xcb", 0) != 0 && !wayland.empty() && (platform.empty() || platform.rfind("wayland", 0) == 0)) {
    name = "wayland-" + wayland.substr(wayland.rfind('/') + 1);
  } else if (!display.empty()) {
    // ":0.0" is the first screen of ":0": one session.
    const std::size_t colon = display.rfind(':');
    if (colon != std::string::npos) {
      const std::size_t dot = display.find('.', colon);
      if (dot != std::string::npos) display.erase(dot);
      if (display.rfind("localhost:", 0) == 0 || display.rfind("unix:", 0) == 0) display.erase(0, display.find(':'));
    }
    name = "x11-" + display;
  } else {
    name = "qpa-" + platform.substr(0, platform.find(':'));
  }
  for (char& c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) c = '_';
  return name;
}

}  // namespace tidrex::platform
