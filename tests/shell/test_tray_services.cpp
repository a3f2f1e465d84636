// The notification-icon service.
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include "platform/notify_icon.h"
#include "platform/window_messages.h"
#include "tests/shell/shell_fixture.h"

namespace tidrex::shell::test {
namespace {

class Plain : public forms::Form {
 public:
  Plain() : Form("Plain") {}
};

class NotifyIcon : public ShellTest {};

platform::NotifyIconData Record(forms::WindowHandle hwnd) {
  platform::NotifyIconData d;
  d.size = 152;
  d.window = hwnd;
  d.id = 125;
  d.flags = platform::kNifMessage | platform::kNifIcon | platform::kNifTip;
  d.callback_message = 1025;
  d.tip = std::string("Varnok Tidrex") + '\0' + std::string(50, ' ');
  return d;
}

TEST_F(NotifyIcon, AddOnceDeleteOnceForFormsOnlyWithTheTipCut) {
  Plain form;
  form.Load();
  auto d = Record(form.Hwnd());
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, d), 1);
  EXPECT_EQ(platform::NotifyIconTip(form.Hwnd(), 125), "Varnok Tidrex");  // cut at the NUL
  ASSERT_NE(platform::NotifyIconObjectForTesting(form.Hwnd(), 125), nullptr);
  EXPECT_EQ(platform::NotifyIconObjectForTesting(form.Hwnd(), 125)->toolTip(), "Varnok Tidrex");
  EXPECT_FALSE(platform::NotifyIconObjectForTesting(form.Hwnd(), 125)->icon().isNull());
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, d), 0);  // already there
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimDelete, d), 1);
  EXPECT_FALSE(platform::NotifyIconExists(form.Hwnd(), 125));
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimDelete, d), 0);  // nothing to delete
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimModify, d), 0);
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, Record(0)), 0);  // no form's window
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, Record(0xdead0)), 0);
  // The tip is cut to 63 characters, and a modify may change only the tip.
  d.tip = std::string(80, 'x');
  ASSERT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, d), 1);
  EXPECT_EQ(platform::NotifyIconTip(form.Hwnd(), 125), std::string(63, 'x'));
  d.flags = platform::kNifTip;
  d.tip = "short";
  EXPECT_EQ(platform::ShellNotifyIcon(platform::kNimModify, d), 1);
  EXPECT_EQ(platform::NotifyIconTip(form.Hwnd(), 125), "short");
  form.Unload();
}

TEST_F(NotifyIcon, ClicksArriveAsTheCallbackWithTheMouseMessage) {
  Plain form;
  form.Load();
  static std::vector<std::intptr_t> got;
  got.clear();
  platform::SetWindowLong(form.Hwnd(), platform::kGwlWndProc,
                          +[](platform::WindowHandle, std::uint32_t m, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
                            got.insert(got.end(), {std::intptr_t(m), std::intptr_t(w), l});
                            return 0;
                          });
  auto d = Record(form.Hwnd());
  ASSERT_EQ(platform::ShellNotifyIcon(platform::kNimAdd, d), 1);
  QSystemTrayIcon* icon = platform::NotifyIconObjectForTesting(form.Hwnd(), 125);
  emit icon->activated(QSystemTrayIcon::Trigger);
  emit icon->activated(QSystemTrayIcon::Context);
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(got.empty());  // posted, as the shell posts it
  forms::testing::ProcessEvents(20);
  EXPECT_EQ(got, (std::vector<std::intptr_t>{1025, 125, 514, 1025, 125, 517, 1025, 125, 515}));
  platform::ShellNotifyIcon(platform::kNimDelete, d);
  form.Unload();
}

}  // namespace
}  // namespace tidrex::shell::test
