// The freedesktop StatusNotifierItem, with its menu exported over DBusMenu, for the
// notification icon. The host (a panel or a bar) draws the icon and the menu itself, at the
// icon, on X11 and Wayland alike. Only the notification icon uses it.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QMenu;

namespace tidrex::platform::sni {

class ItemPrivate;

class Item : public QObject {
  Q_OBJECT

 public:
  // Activation answers with the kind of click: 1 primary, 2 context, 3 secondary.
  Item(std::function<void(int)> on_activate, std::function<void()> on_host_changed);
  ~Item() override;

  // Registers the item on the session bus and with the watcher, now and whenever a watcher
  // (re)appears. False when there is no session bus.
  bool Start();
  // Whether a watcher runs that has a host registered: a panel shows the item.
  bool HostPresent() const;

  void SetIcon(const QIcon& icon);
  void SetToolTip(const QString& tip);
  // The menu the host draws; its actions' triggers run as a click in the menu would.
  void SetMenu(QMenu* menu);

  QString ServiceName() const;

  // The session bus is used only when one is named or the runtime folder has one: nothing
  // must start a bus of its own (dbus-launch) for the icon.
  static bool SessionBusConfigured();

 private Q_SLOTS:
  void HostRegistered();
  void HostUnregistered();

 private:
  friend class ItemPrivate;
  std::unique_ptr<ItemPrivate> d_;
};

}  // namespace tidrex::platform::sni
