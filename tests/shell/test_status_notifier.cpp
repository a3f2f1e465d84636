// The tray icon as a StatusNotifierItem, on a private session bus with a stand-in watcher
// that answers as a panel's does: the item registers, exports the popup menu over DBusMenu,
// runs the menu's handlers on a host's click, and follows the watcher leaving and coming
// back (the panel restarting) by falling back to an XEmbed icon in between.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSystemTrayIcon>
#include <QThread>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "platform/notify_icon.h"
#include "screens/form5.h"
#include "shell/form10.h"
#include "tests/shell/shell_fixture.h"

namespace tidrex::shell::test {
namespace {

namespace t = forms::testing;

// A dbus-daemon of the test's own, one per test process (the session bus connection of a
// process is made once).
struct PrivateBus {
  pid_t pid = -1;
  std::string address;
  PrivateBus() {
    int out[2];
    if (pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=1",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') address += c;
    close(out[0]);
  }
  ~PrivateBus() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

PrivateBus& Bus() {
  static PrivateBus bus;  // stopped at the process's exit
  return bus;
}

// The watcher half of a panel: records the items registered, says a host is there.
class Watcher : public QDBusVirtualObject {
 public:
  QStringList registered;
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
    if (m.member() == QLatin1String("RegisterStatusNotifierItem")) {
      registered << m.arguments().value(0).toString();
      c.send(m.createReply());
      return true;
    }
    if (m.member() == QLatin1String("Get")) {
      const QString name = m.arguments().value(1).toString();
      QVariant v = name == QLatin1String("IsStatusNotifierHostRegistered") ? QVariant(true)
                                                                            : QVariant(registered);
      c.send(m.createReply(QVariant::fromValue(QDBusVariant(v))));
      return true;
    }
    return false;
  }
};

struct Entry {
  int id;
  QVariantMap props;
};

// GetLayout's children, read off the reply.
std::vector<Entry> Layout(const QDBusMessage& reply) {
  std::vector<Entry> out;
  const QDBusArgument layout = reply.arguments().value(1).value<QDBusArgument>();
  int root_id;
  QVariantMap root_props;
  layout.beginStructure();
  layout >> root_id >> root_props;
  layout.beginArray();
  while (!layout.atEnd()) {
    QDBusVariant v;
    layout >> v;
    const QDBusArgument child = v.variant().value<QDBusArgument>();
    Entry e;
    child.beginStructure();
    child >> e.id >> e.props;
    child.endStructure();
    out.push_back(e);
  }
  layout.endArray();
  layout.endStructure();
  return out;
}

class StatusNotifier : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    if (Bus().pid <= 0 || Bus().address.empty()) GTEST_SKIP() << "dbus-daemon is not installed";
    sandbox_.SetEnv("DBUS_SESSION_BUS_ADDRESS", Bus().address);
    panel_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromStdString(Bus().address), QStringLiteral("panel")));
    ASSERT_TRUE(panel_->isConnected());
    // The item waits for the watcher's first answers, so the watcher answers from a thread
    // of its own, as another process would.
    watcher_thread_.start();
    watcher_.moveToThread(&watcher_thread_);
    ASSERT_TRUE(panel_->registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher_));
    ASSERT_TRUE(panel_->registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
  }
  void TearDown() override {
    ShellTest::TearDown();
    if (panel_) {
      panel_->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
      panel_->unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
      QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
    }
    watcher_thread_.quit();
    watcher_thread_.wait();
  }
  QDBusMessage Call(const QString& path, const QString& iface, const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(service_, path, iface, method);
    m.setArguments(args);
    // The item answers from this process's event loop, so the call must not block it.
    QDBusPendingCall pending = panel_->asyncCall(m, 3000);
    t::WaitFor([&] { return pending.isFinished(); }, 3000);
    return pending.reply();
  }

  std::unique_ptr<QDBusConnection> panel_;
  QThread watcher_thread_;
  Watcher watcher_;
  QString service_;
};

TEST_F(StatusNotifier, RegistersAndExportsThePopupMenuWhoseClicksRunTheHandlers) {
  SetSwitches("No", "No", "No");
  Form1a& f = Start();
  service_ = QString::fromStdString(platform::NotifyIconServiceForTesting(f.Hwnd(), kTrayIconId));
  ASSERT_FALSE(service_.isEmpty());
  ASSERT_EQ(watcher_.registered, QStringList{service_});
  // A host shows the item: no XEmbed icon besides it.
  EXPECT_EQ(platform::NotifyIconObjectForTesting(f.Hwnd(), kTrayIconId), nullptr);

  const QString item = QStringLiteral("/StatusNotifierItem");
  const QString props = QStringLiteral("org.freedesktop.DBus.Properties");
  auto prop = [&](const char* name) {
    QDBusMessage r = Call(item, props, QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QString::fromLatin1(name)});
    return r.arguments().value(0).value<QDBusVariant>().variant();
  };
  EXPECT_EQ(prop("ItemIsMenu").toBool(), true);
  EXPECT_EQ(prop("Menu").value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
  EXPECT_EQ(prop("Title").toString(), QStringLiteral("Varnok Tidrex"));
  EXPECT_EQ(prop("Status").toString(), QStringLiteral("Active"));

  const QString menu = QStringLiteral("/MenuBar");
  const QString dbusmenu = QStringLiteral("com.canonical.dbusmenu");
  QDBusMessage layout = Call(menu, dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
  ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
  std::vector<std::string> shown;
  int about = -1;
  for (const Entry& e : Layout(layout)) {
    const bool separator = e.props.value(QStringLiteral("type")).toString() == QLatin1String("separator");
    shown.push_back(separator ? "-" : e.props.value(QStringLiteral("label")).toString().toStdString());
    if (shown.back() == "About") about = e.id;
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"Change Configuration", "-", "Clean Now", "-", "Exit", "-",
                                             "Remove All Paths", "-", "About"}));
  // The host's click on "About" reaches the menu handler: the backdrop and the About page.
  ASSERT_GT(about, 0);
  QDBusMessage ev = Call(menu, dbusmenu, QStringLiteral("Event"),
                         {about, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
  EXPECT_EQ(ev.type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(t::WaitFor([] { return screens::Form5Slot().IsLoaded() && screens::Form5Slot().Loaded()->Visible(); }));
  EXPECT_TRUE(Form10Slot().Loaded()->Visible());
  // A hover or a separator's id does nothing.
  const int popups = t::PopupCount();
  Call(menu, dbusmenu, QStringLiteral("Event"), {2, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
  Call(menu, dbusmenu, QStringLiteral("Event"), {1, QStringLiteral("hovered"), QVariant::fromValue(QDBusVariant(0)), 0u});
  t::ProcessEvents(30);
  EXPECT_EQ(t::PopupCount(), popups);
  // A host that activates the item anyway gets the program's own popup, as a left click does.
  t::ClickPopupItemWhenShown("");
  Call(item, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"), {10, 10});
  EXPECT_TRUE(t::WaitFor([&] { return t::PopupCount() == popups + 1; }));
  t::CancelPopupWatchers();
}

TEST_F(StatusNotifier, FollowsThePanelLeavingAndComingBack) {
  SetSwitches("No", "No", "No");
  Form1a& f = Start();
  ASSERT_EQ(watcher_.registered.size(), 1);
  EXPECT_EQ(platform::NotifyIconObjectForTesting(f.Hwnd(), kTrayIconId), nullptr);
  // The panel goes: an XEmbed icon stands in, waiting for whatever tray comes.
  panel_->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  ASSERT_TRUE(t::WaitFor([&] { return platform::NotifyIconObjectForTesting(f.Hwnd(), kTrayIconId) != nullptr; }));
  // It comes back: the item registers again and the XEmbed icon goes.
  ASSERT_TRUE(panel_->registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
  ASSERT_TRUE(t::WaitFor([&] { return watcher_.registered.size() == 2; }));
  EXPECT_EQ(watcher_.registered[0], watcher_.registered[1]);
  EXPECT_TRUE(t::WaitFor([&] { return platform::NotifyIconObjectForTesting(f.Hwnd(), kTrayIconId) == nullptr; }));
  // Exit takes the item off the bus.
  const QString service = watcher_.registered[0];
  f.mnuShow_Click(4);
  EXPECT_TRUE(t::WaitFor([&] { return !panel_->interface()->isServiceRegistered(service).value(); }));
}

}  // namespace
}  // namespace tidrex::shell::test
