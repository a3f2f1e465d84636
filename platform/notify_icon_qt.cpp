#include "platform/notify_icon.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <map>
#include <memory>

#include "platform/forms_qt_internal.h"
#include "platform/window_messages.h"

namespace tidrex::platform {
namespace {

struct Entry {
  std::unique_ptr<QSystemTrayIcon> icon;
  std::uint32_t callback = 0;
  bool has_callback = false;
  std::string tip;
};

using Key = std::pair<forms::WindowHandle, std::uint32_t>;

std::map<Key, Entry>& Icons() {
  static auto* m = new std::map<Key, Entry>();
  return *m;
}

std::string TipOf(const std::string& tip) {
  std::string t = tip.substr(0, tip.find('\0'));
  return t.substr(0, 63);
}

QIcon IconOf(const std::string& icon) {
  if (!icon.empty()) {
    QIcon i(QString::fromLocal8Bit(icon.c_str()));
    if (!i.isNull()) return i;
  }
  QIcon i = QApplication::windowIcon();
  return i.isNull() ? forms::ApplicationIcon() : i;
}

std::intptr_t MouseMessage(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger: return kWmLButtonUp;
    case QSystemTrayIcon::Context: return kWmRButtonUp;
    case QSystemTrayIcon::DoubleClick: return kWmLButtonDblClk;
    case QSystemTrayIcon::MiddleClick: return kWmMButtonUp;
    default: return 0;
  }
}

void Apply(Entry& e, const NotifyIconData& d) {
  if (d.flags & kNifIcon) e.icon->setIcon(IconOf(d.icon));
  if (d.flags & kNifTip) {
    e.tip = TipOf(d.tip);
    e.icon->setToolTip(QString::fromLocal8Bit(e.tip.c_str()));
  }
  if (d.flags & kNifMessage) {
    e.callback = d.callback_message;
    e.has_callback = true;
  }
}

}  // namespace

int ShellNotifyIcon(std::uint32_t command, const NotifyIconData& data) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  const Key key{data.window, data.id};
  auto& icons = Icons();
  auto it = icons.find(key);
  switch (command) {
    case kNimAdd: {
      if (it != icons.end() || !forms::FormFromHandle(data.window)) return 0;
      Entry& e = icons[key];
      e.icon = std::make_unique<QSystemTrayIcon>();
      e.icon->setIcon(IconOf(""));
      Apply(e, data);
      QObject::connect(e.icon.get(), &QSystemTrayIcon::activated, [key](QSystemTrayIcon::ActivationReason r) {
        const std::intptr_t mouse = MouseMessage(r);
        if (!mouse) return;
        // Delivered from the event loop, once the icon's own mouse handling is over, as the
        // shell posts it.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [key, mouse] {
              auto found = Icons().find(key);
              if (found == Icons().end() || !found->second.has_callback) return;
              SendMessage(key.first, found->second.callback, key.second, mouse);
            },
            Qt::QueuedConnection);
      });
      // With no tray yet, Qt docks the icon by itself once a tray host comes up.
      e.icon->show();
      return 1;
    }
    case kNimModify:
      if (it == icons.end()) return 0;
      Apply(it->second, data);
      return 1;
    case kNimDelete:
      if (it == icons.end()) return 0;
      it->second.icon->hide();
      icons.erase(it);
      return 1;
    default:
      return 0;
  }
}

bool NotifyIconExists(forms::WindowHandle window, std::uint32_t id) { return Icons().count({window, id}) != 0; }

std::string NotifyIconTip(forms::WindowHandle window, std::uint32_t id) {
  auto it = Icons().find({window, id});
  return it == Icons().end() ? std::string() : it->second.tip;
}

QSystemTrayIcon* NotifyIconObjectForTesting(forms::WindowHandle window, std::uint32_t id) {
  auto it = Icons().find({window, id});
  return it == Icons().end() ? nullptr : it->second.icon.get();
}

}  // namespace tidrex::platform
