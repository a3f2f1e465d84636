#include "platform/notify_icon.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <map>
#include <memory>

#include "platform/forms_qt_internal.h"
#include "platform/status_notifier_qt.h"
#include "platform/window_messages.h"

namespace tidrex::platform {
namespace {

using Key = std::pair<forms::WindowHandle, std::uint32_t>;

struct Entry {
  Key key;
  // The XEmbed icon exists only while no StatusNotifierItem host shows the item: Qt picks
  // its tray protocol once, when the icon is made, and must never pick its own D-Bus one.
  std::unique_ptr<QSystemTrayIcon> xembed;
  std::unique_ptr<sni::Item> sni;
  QIcon icon;
  std::uint32_t callback = 0;
  bool has_callback = false;
  std::string tip;
};

std::map<Key, std::unique_ptr<Entry>>& Icons() {
  static auto* m = new std::map<Key, std::unique_ptr<Entry>>();
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

// Delivered from the event loop, once the icon's own mouse handling is over, as the shell
// posts it.
void PostMouse(Key key, std::intptr_t mouse) {
  if (!mouse) return;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [key, mouse] {
        auto found = Icons().find(key);
        if (found == Icons().end() || !found->second->has_callback) return;
        SendMessage(key.first, found->second->callback, key.second, mouse);
      },
      Qt::QueuedConnection);
}

// Shows the icon the way the desktop has now.
void Follow(Entry& e) {
  if (e.sni && e.sni->HostPresent()) {
    e.xembed.reset();
    return;
  }
  if (e.xembed) return;
  e.xembed = std::make_unique<QSystemTrayIcon>();
  e.xembed->setIcon(e.icon);
  e.xembed->setToolTip(QString::fromLocal8Bit(e.tip.c_str()));
  const Key key = e.key;
  QObject::connect(e.xembed.get(), &QSystemTrayIcon::activated,
                   [key](QSystemTrayIcon::ActivationReason r) { PostMouse(key, MouseMessage(r)); });
  // With no tray yet, Qt docks the icon by itself once an XEmbed tray comes up.
  e.xembed->show();
}

void Apply(Entry& e, const NotifyIconData& d) {
  if (d.flags & kNifIcon) {
    e.icon = IconOf(d.icon);
    if (e.xembed) e.xembed->setIcon(e.icon);
    if (e.sni) e.sni->SetIcon(e.icon);
  }
  if (d.flags & kNifTip) {
    e.tip = TipOf(d.tip);
    const QString tip = QString::fromLocal8Bit(e.tip.c_str());
    if (e.xembed) e.xembed->setToolTip(tip);
    if (e.sni) e.sni->SetToolTip(tip);
  }
  if (d.flags & kNifMessage) {
    e.callback = d.callback_message;
    e.has_callback = true;
  }
  if (e.sni && d.menu) e.sni->SetMenu(d.menu->Impl().menu);
}

}  // namespace

int ShellNotifyIcon(std::uint32_t command, const NotifyIconData& data) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  const Key key{data.window, data.id};
  auto& icons = Icons();
  // As with the shell, an icon goes with the window that owned it.
  for (auto i = icons.begin(); i != icons.end();) {
    if (!forms::FormFromHandle(i->first.first)) i = icons.erase(i);
    else ++i;
  }
  auto it = icons.find(key);
  switch (command) {
    case kNimAdd: {
      if (it != icons.end() || !forms::FormFromHandle(data.window)) return 0;
      auto owned = std::make_unique<Entry>();
      Entry& e = *owned;
      icons[key] = std::move(owned);
      e.key = key;
      e.icon = IconOf("");
      auto sni = std::make_unique<sni::Item>(
          [key](int kind) { PostMouse(key, kind == 1 ? kWmLButtonUp : kind == 2 ? kWmRButtonUp : kWmMButtonUp); },
          [key] {
            auto found = Icons().find(key);
            if (found != Icons().end()) Follow(*found->second);
          });
      if (sni->Start()) {
        e.sni = std::move(sni);
        e.sni->SetIcon(e.icon);
      }
      Apply(e, data);
      Follow(e);
      return 1;
    }
    case kNimModify:
      if (it == icons.end()) return 0;
      Apply(*it->second, data);
      return 1;
    case kNimDelete:
      if (it == icons.end()) return 0;
      if (it->second->xembed) it->second->xembed->hide();
      icons.erase(it);
      return 1;
    default:
      return 0;
  }
}

bool NotifyIconExists(forms::WindowHandle window, std::uint32_t id) { return Icons().count({window, id}) != 0; }

std::string NotifyIconTip(forms::WindowHandle window, std::uint32_t id) {
  auto it = Icons().find({window, id});
  return it == Icons().end() ? std::string() : it->second->tip;
}

QSystemTrayIcon* NotifyIconObjectForTesting(forms::WindowHandle window, std::uint32_t id) {
  auto it = Icons().find({window, id});
  return it == Icons().end() ? nullptr : it->second->xembed.get();
}

std::string NotifyIconServiceForTesting(forms::WindowHandle window, std::uint32_t id) {
  auto it = Icons().find({window, id});
  if (it == Icons().end() || !it->second->sni) return "";
  return it->second->sni->ServiceName().toStdString();
}

}  // namespace tidrex::platform
