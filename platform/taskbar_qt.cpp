// The task-list entry of the forms, and handing what they drew to the display server.
// Only X11 has a standard for the task list; the xcb library is the one that Qt's own xcb
// platform plugin has loaded, looked up by name so that the program needs it nowhere else.
#include <QGuiApplication>
#include <QWidget>

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <cstring>

#include "platform/forms_qt_internal.h"

namespace tidrex::forms::platform_ui_detail {
namespace {

struct Xcb {
  decltype(&xcb_intern_atom) intern_atom = nullptr;
  decltype(&xcb_intern_atom_reply) intern_atom_reply = nullptr;
  decltype(&xcb_change_property) change_property = nullptr;
  decltype(&xcb_send_event) send_event = nullptr;
  decltype(&xcb_flush) flush = nullptr;
  decltype(&xcb_get_setup) get_setup = nullptr;
  decltype(&xcb_setup_roots_iterator) roots = nullptr;
  bool ok = false;
};

const Xcb& Functions() {
  static const Xcb x = [] {
    Xcb f;
    f.intern_atom = reinterpret_cast<decltype(f.intern_atom)>(dlsym(RTLD_DEFAULT, "xcb_intern_atom"));
    f.intern_atom_reply = reinterpret_cast<decltype(f.intern_atom_reply)>(dlsym(RTLD_DEFAULT, "xcb_intern_atom_reply"));
    f.change_property = reinterpret_cast<decltype(f.change_property)>(dlsym(RTLD_DEFAULT, "xcb_change_property"));
    f.send_event = reinterpret_cast<decltype(f.send_event)>(dlsym(RTLD_DEFAULT, "xcb_send_event"));
    f.flush = reinterpret_cast<decltype(f.flush)>(dlsym(RTLD_DEFAULT, "xcb_flush"));
    f.get_setup = reinterpret_cast<decltype(f.get_setup)>(dlsym(RTLD_DEFAULT, "xcb_get_setup"));
    f.roots = reinterpret_cast<decltype(f.roots)>(dlsym(RTLD_DEFAULT, "xcb_setup_roots_iterator"));
    f.ok = f.intern_atom && f.intern_atom_reply && f.change_property && f.send_event && f.flush && f.get_setup &&
           f.roots;
    return f;
  }();
  return x;
}

xcb_atom_t Atom(xcb_connection_t* c, const Xcb& f, const char* name) {
  auto cookie = f.intern_atom(c, 0, std::uint16_t(std::strlen(name)), name);
  xcb_intern_atom_reply_t* r = f.intern_atom_reply(c, cookie, nullptr);
  xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  free(r);
  return a;
}

}  // namespace

void ApplySkipTaskbar(QWidget* window, bool skip) {
  if (!window || !skip || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  const Xcb& f = Functions();
  if (!x11 || !f.ok) return;
  xcb_connection_t* c = x11->connection();
  xcb_atom_t state = Atom(c, f, "_NET_WM_STATE");
  xcb_atom_t skip_taskbar = Atom(c, f, "_NET_WM_STATE_SKIP_TASKBAR");
  if (state == XCB_ATOM_NONE || skip_taskbar == XCB_ATOM_NONE) return;
  auto id = xcb_window_t(window->winId());
  if (!window->isVisible()) {
    // Qt merges what is there into the state it sets when it maps the window.
    f.change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &skip_taskbar);
  } else {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = id;
    e.type = state;
    e.data.data32[0] = 1;  // add
    e.data.data32[1] = skip_taskbar;
    e.data.data32[3] = 1;  // from an application
    xcb_window_t root = f.roots(f.get_setup(c)).data->root;
    f.send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&e));
  }
  f.flush(c);
}

void FlushWindowSystem() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  const Xcb& f = Functions();
  if (x11 && f.ok) f.flush(x11->connection());
}

}  // namespace tidrex::forms::platform_ui_detail
