// StatusNotifierItem and DBusMenu on QtDBus. Both objects are virtual objects that answer
// their messages by hand: the two interfaces are small, and this keeps their wire types in
// one place.
#include "platform/status_notifier_qt.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QtEndian>

#include <unistd.h>

namespace tidrex::platform::sni {

// Wire types. Icon pictures are ARGB32 in network byte order.
struct IconPixmap {
  int width = 0;
  int height = 0;
  QByteArray bytes;
};
using IconPixmapList = QList<IconPixmap>;

struct ToolTip {
  QString icon_name;
  IconPixmapList icon;
  QString title;
  QString text;
};

struct MenuLayoutItem {
  int id = 0;
  QVariantMap properties;
  QList<MenuLayoutItem> children;
};

struct MenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

struct MenuItemKeys {
  int id = 0;
  QStringList keys;
};
using MenuItemKeysList = QList<MenuItemKeys>;

struct MenuEvent {
  int id = 0;
  QString event;
  QDBusVariant data;
  uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

}  // namespace tidrex::platform::sni

Q_DECLARE_METATYPE(tidrex::platform::sni::IconPixmap)
Q_DECLARE_METATYPE(tidrex::platform::sni::ToolTip)
Q_DECLARE_METATYPE(tidrex::platform::sni::MenuLayoutItem)
Q_DECLARE_METATYPE(tidrex::platform::sni::MenuItemProperties)
Q_DECLARE_METATYPE(tidrex::platform::sni::MenuItemKeys)
Q_DECLARE_METATYPE(tidrex::platform::sni::MenuEvent)

namespace tidrex::platform::sni {

QDBusArgument& operator<<(QDBusArgument& a, const IconPixmap& p) {
  a.beginStructure();
  a << p.width << p.height << p.bytes;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, IconPixmap& p) {
  a.beginStructure();
  a >> p.width >> p.height >> p.bytes;
  a.endStructure();
  return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const ToolTip& t) {
  a.beginStructure();
  a << t.icon_name << t.icon << t.title << t.text;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, ToolTip& t) {
  a.beginStructure();
  a >> t.icon_name >> t.icon >> t.title >> t.text;
  a.endStructure();
  return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuLayoutItem& item) {
  a.beginStructure();
  a << item.id << item.properties;
  a.beginArray(qMetaTypeId<QDBusVariant>());
  for (const MenuLayoutItem& child : item.children) a << QDBusVariant(QVariant::fromValue(child));
  a.endArray();
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuLayoutItem& item) {
  a.beginStructure();
  a >> item.id >> item.properties;
  a.beginArray();
  item.children.clear();
  while (!a.atEnd()) {
    QDBusVariant v;
    a >> v;
    item.children.append(qdbus_cast<MenuLayoutItem>(v.variant()));
  }
  a.endArray();
  a.endStructure();
  return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuItemProperties& p) {
  a.beginStructure();
  a << p.id << p.properties;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemProperties& p) {
  a.beginStructure();
  a >> p.id >> p.properties;
  a.endStructure();
  return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuItemKeys& k) {
  a.beginStructure();
  a << k.id << k.keys;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemKeys& k) {
  a.beginStructure();
  a >> k.id >> k.keys;
  a.endStructure();
  return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuEvent& e) {
  a.beginStructure();
  a << e.id << e.event << e.data << e.timestamp;
  a.endStructure();
  return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuEvent& e) {
  a.beginStructure();
  a >> e.id >> e.event >> e.data >> e.timestamp;
  a.endStructure();
  return a;
}

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

void RegisterTypes() {
  static const bool once = [] {
    qDBusRegisterMetaType<IconPixmap>();
    qDBusRegisterMetaType<IconPixmapList>();
    qDBusRegisterMetaType<ToolTip>();
    qDBusRegisterMetaType<MenuLayoutItem>();
    qDBusRegisterMetaType<QList<MenuLayoutItem>>();
    qDBusRegisterMetaType<MenuItemProperties>();
    qDBusRegisterMetaType<MenuItemPropertiesList>();
    qDBusRegisterMetaType<MenuItemKeys>();
    qDBusRegisterMetaType<MenuItemKeysList>();
    qDBusRegisterMetaType<MenuEvent>();
    qDBusRegisterMetaType<MenuEventList>();
    return true;
  }();
  (void)once;
}

IconPixmapList PixmapsOf(const QIcon& icon) {
  IconPixmapList list;
  for (int size : {16, 22, 32, 48, 64}) {
    QImage img = icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
    if (img.isNull()) continue;
    IconPixmap p;
    p.width = img.width();
    p.height = img.height();
    p.bytes.resize(qsizetype(img.width()) * img.height() * 4);
    auto* out = reinterpret_cast<quint32*>(p.bytes.data());
    for (int y = 0; y < img.height(); ++y) {
      const auto* row = reinterpret_cast<const quint32*>(img.constScanLine(y));
      for (int x = 0; x < img.width(); ++x) *out++ = qToBigEndian<quint32>(row[x]);
    }
    list.append(p);
  }
  return list;
}

// DBusMenu marks a mnemonic with "_"; the captions have none, so every "_" is literal.
QString MenuLabel(const QString& text) {
  QString t = text;
  t.replace(QLatin1Char('&'), QString());  // Qt's mnemonic marker
  t.replace(QLatin1Char('_'), QStringLiteral("__"));
  return t;
}

QString InterfaceXml(const char* iface, const char* props) {
  return QStringLiteral("  <interface name=\"%1\">\n%2  </interface>\n").arg(QLatin1String(iface), QLatin1String(props));
}

}  // namespace

class ItemPrivate {
 public:
  Item* q;
  std::function<void(int)> on_activate;
  std::function<void()> on_host_changed;
  QDBusConnection bus{QStringLiteral("")};
  QString service;
  IconPixmapList pixmaps;
  QString tip;
  QPointer<QMenu> menu;
  uint revision = 1;
  bool started = false;
  bool host_present = false;
  std::unique_ptr<QDBusServiceWatcher> watcher;
  std::unique_ptr<QDBusVirtualObject> item_object;
  std::unique_ptr<QDBusVirtualObject> menu_object;

  QVariantMap ItemProperties() const {
    ToolTip t;
    t.title = tip;
    QVariantMap m;
    m[QStringLiteral("Category")] = QStringLiteral("ApplicationStatus");
    m[QStringLiteral("Id")] = QStringLiteral("tidrex");
    m[QStringLiteral("Title")] = tip;
    m[QStringLiteral("Status")] = QStringLiteral("Active");
    m[QStringLiteral("WindowId")] = 0;
    m[QStringLiteral("IconThemePath")] = QString();
    m[QStringLiteral("IconName")] = QString();
    m[QStringLiteral("IconPixmap")] = QVariant::fromValue(pixmaps);
    m[QStringLiteral("OverlayIconName")] = QString();
    m[QStringLiteral("OverlayIconPixmap")] = QVariant::fromValue(IconPixmapList());
    m[QStringLiteral("AttentionIconName")] = QString();
    m[QStringLiteral("AttentionIconPixmap")] = QVariant::fromValue(IconPixmapList());
    m[QStringLiteral("AttentionMovieName")] = QString();
    m[QStringLiteral("ToolTip")] = QVariant::fromValue(t);
    m[QStringLiteral("ItemIsMenu")] = true;
    m[QStringLiteral("Menu")] = QVariant::fromValue(QDBusObjectPath(kMenuPath));
    return m;
  }

  QVariantMap MenuProperties() const {
    QVariantMap m;
    m[QStringLiteral("Version")] = uint(3);
    m[QStringLiteral("TextDirection")] = QStringLiteral("ltr");
    m[QStringLiteral("Status")] = QStringLiteral("normal");
    m[QStringLiteral("IconThemePath")] = QStringList();
    return m;
  }

  // Menu entries are numbered 1.. in the menu's order; 0 is the root.
  QList<QAction*> Actions() const { return menu ? menu->actions() : QList<QAction*>(); }
  QAction* ActionOf(int id) const {
    const QList<QAction*> a = Actions();
    return id >= 1 && id <= a.size() ? a[id - 1] : nullptr;
  }

  QVariantMap EntryProperties(int id, const QStringList& wanted) const {
    QVariantMap m;
    if (id == 0) {
      m[QStringLiteral("children-display")] = QStringLiteral("submenu");
    } else if (QAction* a = ActionOf(id)) {
      if (a->isSeparator()) {
        m[QStringLiteral("type")] = QStringLiteral("separator");
      } else {
        m[QStringLiteral("label")] = MenuLabel(a->text());
      }
      if (!a->isEnabled()) m[QStringLiteral("enabled")] = false;
      if (!a->isVisible()) m[QStringLiteral("visible")] = false;
    }
    if (wanted.isEmpty()) return m;
    QVariantMap filtered;
    for (const QString& k : wanted)
      if (m.contains(k)) filtered[k] = m[k];
    return filtered;
  }

  MenuLayoutItem Layout(int parent, int depth, const QStringList& wanted) const {
    MenuLayoutItem root;
    root.id = parent;
    root.properties = EntryProperties(parent, wanted);
    if (parent == 0 && depth != 0) {
      const int n = int(Actions().size());
      for (int id = 1; id <= n; ++id) {
        MenuLayoutItem child;
        child.id = id;
        child.properties = EntryProperties(id, wanted);
        root.children.append(child);
      }
    }
    return root;
  }

  bool Reply(const QDBusMessage& msg, const QDBusConnection& c, const QVariantList& args) {
    c.send(msg.createReply(args));
    return true;
  }
  bool Error(const QDBusMessage& msg, const QDBusConnection& c, const QString& name, const QString& text) {
    c.send(msg.createErrorReply(name, text));
    return true;
  }

  bool HandleProperties(const QDBusMessage& msg, const QDBusConnection& c, const QString& iface,
                        const QVariantMap& props) {
    const QVariantList args = msg.arguments();
    const QString member = msg.member();
    if (member == QLatin1String("GetAll")) {
      if (args.value(0).toString() != iface) return Reply(msg, c, {QVariantMap()});
      return Reply(msg, c, {props});
    }
    if (member == QLatin1String("Get")) {
      const QString name = args.value(1).toString();
      if (args.value(0).toString() != iface || !props.contains(name))
        return Error(msg, c, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), name);
      return Reply(msg, c, {QVariant::fromValue(QDBusVariant(props[name]))});
    }
    return Error(msg, c, QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"), member);
  }

  bool HandleItem(const QDBusMessage& msg, const QDBusConnection& c) {
    if (msg.interface() == kProperties) return HandleProperties(msg, c, kItemInterface, ItemProperties());
    const QString m = msg.member();
    int kind = 0;
    if (m == QLatin1String("Activate")) kind = 1;
    else if (m == QLatin1String("ContextMenu")) kind = 2;
    else if (m == QLatin1String("SecondaryActivate")) kind = 3;
    else if (m != QLatin1String("Scroll")) return false;
    Reply(msg, c, {});
    if (kind && on_activate) on_activate(kind);
    return true;
  }

  bool HandleMenu(const QDBusMessage& msg, const QDBusConnection& c) {
    if (msg.interface() == kProperties) return HandleProperties(msg, c, kMenuInterface, MenuProperties());
    const QString m = msg.member();
    const QVariantList args = msg.arguments();
    if (m == QLatin1String("GetLayout")) {
      const int parent = args.value(0).toInt();
      if (parent != 0 && !ActionOf(parent))
        return Error(msg, c, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), QStringLiteral("no such item"));
      return Reply(msg, c, {revision, QVariant::fromValue(Layout(parent, args.value(1).toInt(), args.value(2).toStringList()))});
    }
    if (m == QLatin1String("GetGroupProperties")) {
      const QList<int> ids = qdbus_cast<QList<int>>(args.value(0));
      const QStringList wanted = args.value(1).toStringList();
      MenuItemPropertiesList out;
      for (int id : ids)
        if (id == 0 || ActionOf(id)) out.append({id, EntryProperties(id, wanted)});
      return Reply(msg, c, {QVariant::fromValue(out)});
    }
    if (m == QLatin1String("GetProperty")) {
      const QVariantMap p = EntryProperties(args.value(0).toInt(), {});
      return Reply(msg, c, {QVariant::fromValue(QDBusVariant(p.value(args.value(1).toString())))});
    }
    if (m == QLatin1String("Event")) {
      Reply(msg, c, {});
      Event(args.value(0).toInt(), args.value(1).toString());
      return true;
    }
    if (m == QLatin1String("EventGroup")) {
      const MenuEventList events = qdbus_cast<MenuEventList>(args.value(0));
      QList<int> errors;
      for (const MenuEvent& e : events)
        if (e.id != 0 && !ActionOf(e.id)) errors.append(e.id);
      Reply(msg, c, {QVariant::fromValue(errors)});
      for (const MenuEvent& e : events) Event(e.id, e.event);
      return true;
    }
    if (m == QLatin1String("AboutToShow")) return Reply(msg, c, {false});
    if (m == QLatin1String("AboutToShowGroup"))
      return Reply(msg, c, {QVariant::fromValue(QList<int>()), QVariant::fromValue(QList<int>())});
    return false;
  }

  // A click in the host's menu runs after the answer has gone out, from the event loop, as
  // a click in a menu of the program's own does.
  void Event(int id, const QString& event) {
    if (event != QLatin1String("clicked")) return;
    QPointer<QAction> a = ActionOf(id);
    if (!a || a->isSeparator() || !a->isEnabled() || !a->isVisible()) return;
    QMetaObject::invokeMethod(
        q, [a] {
          if (a) a->trigger();
        },
        Qt::QueuedConnection);
  }

  void MenuChanged() {
    ++revision;
    QDBusMessage s = QDBusMessage::createSignal(kMenuPath, kMenuInterface, QStringLiteral("LayoutUpdated"));
    s << revision << 0;
    bus.send(s);
  }

  void Signal(const char* name) {
    if (started) bus.send(QDBusMessage::createSignal(kItemPath, kItemInterface, QLatin1String(name)));
  }

  void SetHost(bool present) {
    if (present == host_present) return;
    host_present = present;
    if (on_host_changed) on_host_changed();
  }

  // Asks the watcher whether a host is there; the answer arrives later.
  void QueryHost() {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kProperties, QStringLiteral("Get"));
    call << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* w = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), q);
    QObject::connect(w, &QDBusPendingCallWatcher::finished, q, [this](QDBusPendingCallWatcher* w) {
      QDBusPendingReply<QDBusVariant> r = *w;
      w->deleteLater();
      SetHost(!r.isError() && r.value().variant().toBool());
    });
  }

  void RegisterWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface, QStringLiteral("RegisterStatusNotifierItem"));
    call << service;
    auto* w = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), q);
    QObject::connect(w, &QDBusPendingCallWatcher::finished, q, [this](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      QueryHost();
    });
  }

  void WatcherAppeared() {
    RegisterWithWatcher();
  }
  void WatcherVanished() {
    SetHost(false);
  }
};

namespace {

class ItemObject : public QDBusVirtualObject {
 public:
  explicit ItemObject(ItemPrivate* d) : d_(d) {}
  QString introspect(const QString&) const override {
    return InterfaceXml("org.kde.StatusNotifierItem",
                         "    <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
                         "    <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                         "    <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                         "    <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                         "    <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
                         "    <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
                         "    <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
                         "    <method name=\"ContextMenu\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
                         "    <method name=\"Activate\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
                         "    <method name=\"SecondaryActivate\"><arg name=\"x\" type=\"i\" direction=\"in\"/><arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
                         "    <method name=\"Scroll\"><arg name=\"delta\" type=\"i\" direction=\"in\"/><arg name=\"orientation\" type=\"s\" direction=\"in\"/></method>\n"
                         "    <signal name=\"NewTitle\"/>\n    <signal name=\"NewIcon\"/>\n"
                         "    <signal name=\"NewAttentionIcon\"/>\n    <signal name=\"NewOverlayIcon\"/>\n"
                         "    <signal name=\"NewToolTip\"/>\n"
                         "    <signal name=\"NewStatus\"><arg name=\"status\" type=\"s\"/></signal>\n");
  }
  bool handleMessage(const QDBusMessage& msg, const QDBusConnection& c) override { return d_->HandleItem(msg, c); }

 private:
  ItemPrivate* d_;
};

class MenuObject : public QDBusVirtualObject {
 public:
  explicit MenuObject(ItemPrivate* d) : d_(d) {}
  QString introspect(const QString&) const override {
    return InterfaceXml("com.canonical.dbusmenu",
                         "    <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
                         "    <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                         "    <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
                         "    <method name=\"GetLayout\"><arg type=\"i\" name=\"parentId\" direction=\"in\"/><arg type=\"i\" name=\"recursionDepth\" direction=\"in\"/><arg type=\"as\" name=\"propertyNames\" direction=\"in\"/><arg type=\"u\" name=\"revision\" direction=\"out\"/><arg type=\"(ia{sv}av)\" name=\"layout\" direction=\"out\"/></method>\n"
                         "    <method name=\"GetGroupProperties\"><arg type=\"ai\" name=\"ids\" direction=\"in\"/><arg type=\"as\" name=\"propertyNames\" direction=\"in\"/><arg type=\"a(ia{sv})\" name=\"properties\" direction=\"out\"/></method>\n"
                         "    <method name=\"GetProperty\"><arg type=\"i\" name=\"id\" direction=\"in\"/><arg type=\"s\" name=\"name\" direction=\"in\"/><arg type=\"v\" name=\"value\" direction=\"out\"/></method>\n"
                         "    <method name=\"Event\"><arg type=\"i\" name=\"id\" direction=\"in\"/><arg type=\"s\" name=\"eventId\" direction=\"in\"/><arg type=\"v\" name=\"data\" direction=\"in\"/><arg type=\"u\" name=\"timestamp\" direction=\"in\"/></method>\n"
                         "    <method name=\"EventGroup\"><arg type=\"a(isvu)\" name=\"events\" direction=\"in\"/><arg type=\"ai\" name=\"idErrors\" direction=\"out\"/></method>\n"
                         "    <method name=\"AboutToShow\"><arg type=\"i\" name=\"id\" direction=\"in\"/><arg type=\"b\" name=\"needUpdate\" direction=\"out\"/></method>\n"
                         "    <method name=\"AboutToShowGroup\"><arg type=\"ai\" name=\"ids\" direction=\"in\"/><arg type=\"ai\" name=\"updatesNeeded\" direction=\"out\"/><arg type=\"ai\" name=\"idErrors\" direction=\"out\"/></method>\n"
                         "    <signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\" name=\"updatedProps\" direction=\"out\"/><arg type=\"a(ias)\" name=\"removedProps\" direction=\"out\"/></signal>\n"
                         "    <signal name=\"LayoutUpdated\"><arg type=\"u\" name=\"revision\" direction=\"out\"/><arg type=\"i\" name=\"parent\" direction=\"out\"/></signal>\n"
                         "    <signal name=\"ItemActivationRequested\"><arg type=\"i\" name=\"id\" direction=\"out\"/><arg type=\"u\" name=\"timestamp\" direction=\"out\"/></signal>\n");
  }
  bool handleMessage(const QDBusMessage& msg, const QDBusConnection& c) override { return d_->HandleMenu(msg, c); }

 private:
  ItemPrivate* d_;
};

}  // namespace

Item::Item(std::function<void(int)> on_activate, std::function<void()> on_host_changed)
    : d_(std::make_unique<ItemPrivate>()) {
  d_->q = this;
  d_->on_activate = std::move(on_activate);
  d_->on_host_changed = std::move(on_host_changed);
}

Item::~Item() {
  if (d_->started) {
    d_->bus.unregisterObject(kItemPath);
    d_->bus.unregisterObject(kMenuPath);
    d_->bus.unregisterService(d_->service);
  }
}

bool Item::SessionBusConfigured() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

bool Item::Start() {
  if (d_->started) return true;
  if (!SessionBusConfigured()) return false;
  d_->bus = QDBusConnection::sessionBus();
  if (!d_->bus.isConnected()) return false;
  RegisterTypes();
  static int serial = 0;
  d_->service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(getpid()).arg(++serial);
  d_->item_object = std::make_unique<ItemObject>(d_.get());
  d_->menu_object = std::make_unique<MenuObject>(d_.get());
  if (!d_->bus.registerVirtualObject(kItemPath, d_->item_object.get()) ||
      !d_->bus.registerVirtualObject(kMenuPath, d_->menu_object.get()) || !d_->bus.registerService(d_->service)) {
    d_->bus.unregisterObject(kItemPath);
    d_->bus.unregisterObject(kMenuPath);
    return false;
  }
  d_->started = true;
  d_->watcher = std::make_unique<QDBusServiceWatcher>(
      kWatcherService, d_->bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
  connect(d_->watcher.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] { d_->WatcherAppeared(); });
  connect(d_->watcher.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] { d_->WatcherVanished(); });
  d_->bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, QStringLiteral("StatusNotifierHostRegistered"), this,
                  SLOT(HostRegistered()));
  d_->bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, QStringLiteral("StatusNotifierHostUnregistered"),
                  this, SLOT(HostUnregistered()));
  // The first answer is waited for: whether to show the icon another way depends on it.
  if (d_->bus.interface()->isServiceRegistered(kWatcherService)) {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << d_->service;
    d_->bus.call(call, QDBus::Block, 2000);
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kProperties, QStringLiteral("Get"));
    get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    QDBusMessage r = d_->bus.call(get, QDBus::Block, 2000);
    d_->host_present = r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty() &&
                       qvariant_cast<QDBusVariant>(r.arguments().first()).variant().toBool();
  }
  return true;
}

bool Item::HostPresent() const { return d_->host_present; }
QString Item::ServiceName() const { return d_->service; }

void Item::HostRegistered() { d_->QueryHost(); }
void Item::HostUnregistered() { d_->QueryHost(); }

void Item::SetIcon(const QIcon& icon) {
  d_->pixmaps = PixmapsOf(icon);
  d_->Signal("NewIcon");
}

void Item::SetToolTip(const QString& tip) {
  d_->tip = tip;
  d_->Signal("NewToolTip");
  d_->Signal("NewTitle");
}

void Item::SetMenu(QMenu* menu) {
  if (d_->menu == menu) return;
  if (d_->menu) disconnect(d_->menu, nullptr, this, nullptr);
  d_->menu = menu;
  if (menu) {
    // A caption or visibility changed in the menu reaches the host's copy.
    for (QAction* a : menu->actions()) connect(a, &QAction::changed, this, [this] { d_->MenuChanged(); });
  }
  if (d_->started) d_->MenuChanged();
}

}  // namespace tidrex::platform::sni
