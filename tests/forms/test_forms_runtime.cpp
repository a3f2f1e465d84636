// The forms runtime: slots and the collection, deferred destruction, timers (also inside a
// message box), popup menus, controls, geometry and window procedures, driven through real
// Qt events. The screens and shell suites exercise the rest through the program's forms.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QListWidget>
#include <QMenuBar>
#include <QTest>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/forms_testing.h"
#include "platform/window_messages.h"
#include "tests/support/sandbox.h"

namespace tidrex::forms {
namespace {

namespace t = forms::testing;

std::vector<std::string> g_events;

class Probe : public Form {
 public:
  Probe() : Form("Probe"), Timer1(AddTimer("Timer1", 20)), Label1(AddLabel("Label1", "hello", {240, 120, 1200, 300})) {
    SetClientSize(6270, 2235);
    ++constructed;
  }
  ~Probe() override { ++destroyed; }
  Timer& Timer1;
  Label& Label1;
  static inline int constructed = 0;
  static inline int destroyed = 0;
  static inline int loads = 0;

 protected:
  void Form_Load() override {
    ++loads;
    g_events.push_back("Probe.Load");
  }
  void Form_Unload() override { g_events.push_back("Probe.Unload"); }
};

class Other : public Form {
 public:
  Other() : Form("Other") { SetClientSize(3000, 2000); }
};

FormSlot<Probe>& ProbeSlot() {
  static FormSlot<Probe> s;
  return s;
}
FormSlot<Other>& OtherSlot() {
  static FormSlot<Other> s;
  return s;
}

class FormsRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    Probe::constructed = Probe::destroyed = Probe::loads = 0;
  }
  void TearDown() override { t::UnloadEverything(); }
  tidrex::testing::Sandbox sandbox_;
};

TEST_F(FormsRuntime, SlotLoadsOnceAndUnloadEmptiesItAndTheCollection) {
  EXPECT_FALSE(ProbeSlot().IsLoaded());
  Probe& a = ProbeSlot().Get();
  Probe& b = ProbeSlot().Get();
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(Probe::constructed, 1);
  EXPECT_EQ(Probe::loads, 1);
  OtherSlot().Get();
  ASSERT_EQ(LoadedForms().size(), 2u);
  EXPECT_EQ(LoadedForms()[0]->Name(), "Probe");
  EXPECT_EQ(LoadedForms()[1]->Name(), "Other");

  a.Unload();
  a.Unload();  // a second unload runs nothing again
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "Probe.Unload"), 1);
  EXPECT_FALSE(ProbeSlot().IsLoaded());
  EXPECT_EQ(ProbeSlot().Loaded(), nullptr);
  ASSERT_EQ(LoadedForms().size(), 1u);
  EXPECT_EQ(LoadedForms()[0]->Name(), "Other");
  // Destroyed only after the current event.
  EXPECT_EQ(Probe::destroyed, 0);
  t::ProcessEvents(10);
  EXPECT_EQ(Probe::destroyed, 1);

  // The next reference builds a fresh form whose load runs again.
  Probe& c = ProbeSlot().Get();
  EXPECT_EQ(Probe::constructed, 2);
  EXPECT_EQ(Probe::loads, 2);
  EXPECT_TRUE(c.IsLoaded());
}

TEST_F(FormsRuntime, FormMayUnloadItselfFromItsOwnTimer) {
  Probe& p = ProbeSlot().Get();
  bool after_unload_touched = false;
  p.Timer1.OnTimer = [&p, &after_unload_touched] {
    p.Timer1.SetEnabled(false);
    p.Unload();
    // Still alive here: the handler may go on using its own form.
    p.Label1.SetCaption("still here");
    after_unload_touched = p.Label1.Caption() == "still here";
  };
  p.Timer1.SetEnabled(true);
  ASSERT_TRUE(t::WaitFor([] { return Probe::destroyed == 1; }, 2000));
  EXPECT_TRUE(after_unload_touched);
  EXPECT_FALSE(ProbeSlot().IsLoaded());
}

TEST_F(FormsRuntime, FormUnloadedWhileAMessageBoxIsOpenLivesUntilTheBoxReturns) {
  Probe& p = ProbeSlot().Get();
  Other& o = OtherSlot().Get();
  int destroyed_while_open = -1;
  // A timer of another form unloads the probe while the probe's handler waits in a box.
  Timer& killer = o.AddTimer("Timer9", 30);
  killer.OnTimer = [&] {
    killer.SetEnabled(false);
    p.Unload();
  };
  QTimer::singleShot(200, [&] {
    destroyed_while_open = Probe::destroyed;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->button(QMessageBox::Ok)->click();
  });
  killer.SetEnabled(true);
  int answer = MsgBox("wait", kMbInformationOk, "t");
  EXPECT_EQ(answer, kIdOk);
  EXPECT_EQ(destroyed_while_open, 0);
  EXPECT_FALSE(ProbeSlot().IsLoaded());
  p.Label1.SetCaption("handler goes on");  // the form is still there for the handler
  t::ProcessEvents(20);
  EXPECT_EQ(Probe::destroyed, 1);
}

TEST_F(FormsRuntime, TimersFireInsideARealMessageBoxAndTheBoxReturnsTheButton) {
  Probe& p = ProbeSlot().Get();
  int ticks = 0;
  p.Timer1.OnTimer = [&] {
    ++ticks;
    if (ticks == 3) {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text().toStdString(), "Do you want to continue?");
      EXPECT_EQ(box->windowTitle().toStdString(), "For Your Information.....");
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      box->button(QMessageBox::No)->click();
    }
  };
  p.Timer1.SetEnabled(true);
  EXPECT_EQ(MsgBox("Do you want to continue?", kMbQuestionYesNo, "For Your Information....."), kIdNo);
  EXPECT_EQ(ticks, 3);
  // A short text under a long title: the box is wide enough for the whole title.
  ticks = 0;
  p.Timer1.OnTimer = [&] {
    if (++ticks == 1) {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      QFont bold = box->font();
      bold.setBold(true);
      EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance("Varnok Tidrex.....") + 100);
      box->button(QMessageBox::Ok)->click();
    }
  };
  p.Timer1.SetEnabled(true);
  EXPECT_EQ(MsgBox("All Files Cleaned!", kMbInformationOk, "Varnok Tidrex....."), kIdOk);
  EXPECT_EQ(ticks, 1);
}

TEST_F(FormsRuntime, TimerIsSilentUntilEnabledAndStopsWhenDisabledOrUnloaded) {
  Probe& p = ProbeSlot().Get();
  int ticks = 0;
  p.Timer1.OnTimer = [&] { ++ticks; };
  EXPECT_FALSE(p.Timer1.Enabled());
  t::ProcessEvents(80);
  EXPECT_EQ(ticks, 0);
  p.Timer1.SetEnabled(true);
  ASSERT_TRUE(t::WaitFor([&] { return ticks >= 2; }, 1000));
  p.Timer1.SetEnabled(false);
  int at_stop = ticks;
  t::ProcessEvents(80);
  EXPECT_EQ(ticks, at_stop);
  p.Timer1.SetInterval(0);
  p.Timer1.SetEnabled(true);  // interval 0 never fires
  t::ProcessEvents(60);
  EXPECT_EQ(ticks, at_stop);
  p.Timer1.SetInterval(15);
  ASSERT_TRUE(t::WaitFor([&] { return ticks > at_stop; }, 1000));
  p.Unload();
  int at_unload = ticks;
  t::ProcessEvents(60);
  EXPECT_EQ(ticks, at_unload);
}

TEST_F(FormsRuntime, PopupMenuRunsTheChosenItemAfterItClosed) {
  Probe& p = ProbeSlot().Get();
  MenuItem& popup = p.AddMenu("mnuPopUp", "PopUp_Menu", false);
  bool menu_open_during_click = true;
  popup.AddItem("mnuShow", "First").Click = [] {};
  popup.AddItem("mnuShow", "-");
  popup.AddItem("mnuShow", "Second").Click = [&] { menu_open_during_click = QApplication::activePopupWidget() != nullptr; };
  EXPECT_TRUE(t::MenuBarCaptions(p).empty());  // never on a menu bar
  t::ClickPopupItemWhenShown("Second");
  p.PopupMenu(popup);
  EXPECT_FALSE(menu_open_during_click);
  EXPECT_EQ(t::LastPopupCaptions(), (std::vector<std::string>{"First", "-", "Second"}));
}

TEST_F(FormsRuntime, CheckBoxClickFollowsEveryChangeAlsoByCode) {
  Probe& p = ProbeSlot().Get();
  CheckBox& c = p.AddCheckBox("Check1", "Temp", {120, 600, 2000, 300});
  int clicks = 0;
  c.Click = [&] { ++clicks; };
  p.Show();
  c.SetValue(1);
  EXPECT_EQ(clicks, 1);
  c.SetValue(1);  // no change, no click
  EXPECT_EQ(clicks, 1);
  ASSERT_TRUE(t::ClickCheckBox(c));
  EXPECT_EQ(c.Value(), 0);
  EXPECT_EQ(clicks, 2);
}

TEST_F(FormsRuntime, ListBoxKeepsBytesOrderAndReportsSelectionAndDoubleClick) {
  Probe& p = ProbeSlot().Get();
  ListBox& l = p.AddListBox("List1", {120, 600, 3000, 1200});
  p.Show();
  l.AddItem("b");
  l.AddItems({"a", std::string("\xff\xfe raw", 6), "c"});
  EXPECT_EQ(l.List(9), "");
  EXPECT_EQ(l.ListIndex(), -1);
  l.RemoveItem(0);
  l.RemoveItem(7);  // out of range: ignored
  EXPECT_EQ(l.Items(), (std::vector<std::string>{"a", std::string("\xff\xfe raw", 6), "c"}));
  int dbl = 0;
  l.DblClick = [&] { ++dbl; };
  ASSERT_TRUE(t::ClickListItem(l, 2));
  EXPECT_EQ(l.ListIndex(), 2);
  EXPECT_EQ(dbl, 0);
  ASSERT_TRUE(t::DoubleClickListItem(l, 0));
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(l.ListIndex(), 0);
  l.Clear();
  EXPECT_EQ(l.ListCount(), 0);
}

TEST_F(FormsRuntime, DirListSkipsLinksAndRefusesWhatIsNoFolder) {
  tidrex::testing::Sandbox::MakeDirs(sandbox_.Path("d/one"));
  tidrex::testing::Sandbox::MakeDirs(sandbox_.Path("d/two"));
  std::filesystem::create_directory_symlink(sandbox_.Path("d/one"), sandbox_.Path("d/link"));
  Probe& p = ProbeSlot().Get();
  DirListBox& d = p.AddDirListBox("Dir1", {0, 0, 3000, 3000});
  p.Show();
  int changes = 0;
  d.Change = [&] { ++changes; };
  ASSERT_TRUE(d.SetPath(sandbox_.Path("d")));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(d.List(0), "/");
  ASSERT_GE(d.ListCount(), 3);
  EXPECT_EQ(d.List(d.ListCount() - 2), sandbox_.Path("d/one"));
  EXPECT_EQ(d.List(d.ListCount() - 1), sandbox_.Path("d/two"));
  EXPECT_FALSE(d.SetPath(sandbox_.Path("d/none")));
  EXPECT_FALSE(d.SetPath("relative"));
  EXPECT_EQ(d.Path(), sandbox_.Path("d"));
  EXPECT_EQ(changes, 1);
}

TEST_F(FormsRuntime, DirListMarksTheOpenFolder) {
  tidrex::testing::Sandbox::MakeDirs(sandbox_.Path("d/one"));
  Probe& p = ProbeSlot().Get();
  DirListBox& d = p.AddDirListBox("Dir1", {0, 0, 3000, 3000});
  p.Show();
  ASSERT_TRUE(d.SetPath(sandbox_.Path("d")));
  auto* w = static_cast<QListWidget*>(t::WidgetOf(d));
  const int open = d.ListCount() - 2;  // the open folder, above its one subfolder
  ASSERT_EQ(d.List(open), sandbox_.Path("d"));
  for (int row = 0; row < d.ListCount(); ++row) {
    EXPECT_EQ(w->item(row)->font().bold(), row == open) << row;
    EXPECT_FALSE(w->item(row)->icon().isNull()) << row;
  }
  // The subfolder's picture differs from the open folder's.
  EXPECT_NE(w->item(open + 1)->icon().pixmap(16).toImage(), w->item(open)->icon().pixmap(16).toImage());
  // Highlighting another entry does not move the mark; opening it does.
  d.SetListIndex(open + 1);
  EXPECT_TRUE(w->item(open)->font().bold());
  ASSERT_TRUE(t::DoubleClickDirEntry(d, open + 1));
  EXPECT_EQ(d.Path(), sandbox_.Path("d/one"));
  EXPECT_TRUE(w->item(d.ListCount() - 1)->font().bold());
}

TEST_F(FormsRuntime, EveryControlAndTheMenuBarWorkFromTheKeyboard) {
  tidrex::testing::Sandbox::MakeDirs(sandbox_.Path("k/sub"));
  Probe& p = ProbeSlot().Get();
  std::vector<std::string> clicked;
  for (const char* name : {"sOne", "sTwo", "sThree"}) {
    MenuItem& m = p.AddMenu(name, std::string(name).substr(1));
    m.Click = [&clicked, name] { clicked.push_back(name); };
  }
  CheckBox& c = p.AddCheckBox("Check1", "Temp Folder", {120, 120, 2000, 300});
  ListBox& l = p.AddListBox("List1", {120, 600, 2000, 800});
  DirListBox& d = p.AddDirListBox("Dir1", {2400, 120, 2000, 1500});
  l.AddItems({"a", "b"});
  int dbl = 0;
  l.DblClick = [&] { ++dbl; };
  ASSERT_TRUE(d.SetPath(sandbox_.Path("k")));
  p.Show();
  QWidget* window = t::WidgetOf(p);
  ASSERT_TRUE(t::WaitFor([&] { return QApplication::activeWindow() == window; }));
  // Tab goes from the check box to the list and the folder list, in the page's order, and
  // round again.
  t::WidgetOf(c)->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> seen;
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(seen, (std::vector<QWidget*>{t::WidgetOf(l), t::WidgetOf(d), t::WidgetOf(c)}));
  EXPECT_TRUE(t::WidgetOf(c)->hasFocus());
  // Space ticks the box.
  t::WidgetOf(c)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(t::WidgetOf(c), Qt::Key_Space);
  EXPECT_EQ(c.Value(), 1);
  // Enter on a list item is its double click; on a folder entry it opens the folder.
  l.SetListIndex(1);
  QTest::keyClick(t::WidgetOf(l), Qt::Key_Return);
  EXPECT_EQ(dbl, 1);
  d.SetListIndex(d.ListCount() - 1);
  QTest::keyClick(t::WidgetOf(d), Qt::Key_Return);
  EXPECT_EQ(d.Path(), sandbox_.Path("k/sub"));
  // F10 reaches the menu bar: the arrows move along it and Enter runs the item.
  auto* bar = window->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
  ASSERT_NE(bar->activeAction(), nullptr);
  EXPECT_EQ(bar->activeAction()->text(), "One");
  QTest::keyClick(bar, Qt::Key_Right);
  EXPECT_EQ(bar->activeAction()->text(), "Two");
  QTest::keyClick(bar, Qt::Key_Return);
  EXPECT_EQ(clicked, std::vector<std::string>{"sTwo"});
  // So does a lone Alt, and Escape leaves the bar.
  QTest::keyClick(window, Qt::Key_Alt);
  ASSERT_NE(bar->activeAction(), nullptr);
  QTest::keyClick(bar, Qt::Key_Escape);
  EXPECT_EQ(bar->activeAction(), nullptr);
  EXPECT_EQ(clicked.size(), 1u);
}

TEST_F(FormsRuntime, TheWholeMenuBarStaysInViewOnAnUnscaledPage) {
  // The longest bar of the pages, on a page of the designed width (no scaling below 790
  // pixels of screen).
  Probe& p = ProbeSlot().Get();
  const std::vector<std::string> captions = {"View Paths", "Options", "User Folder", "Save",
                                             "Cookies", "Help", "About", "Close"};
  for (std::size_t i = 0; i < captions.size(); ++i) p.AddMenu("s" + std::to_string(i), captions[i]);
  p.SetClientSize(6270, 2235);
  p.Show();
  t::ProcessEvents(20);
  auto* bar = t::WidgetOf(p)->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(t::MenuBarCaptions(p), captions);  // byte for byte
  for (QAction* a : bar->actions()) {
    const QRect r = bar->actionGeometry(a);
    EXPECT_FALSE(r.isEmpty()) << a->text().toStdString();
    EXPECT_LE(r.right(), bar->width()) << a->text().toStdString();
  }
  auto* overflow = bar->findChild<QWidget*>("qt_menubar_ext_button");
  EXPECT_TRUE(overflow == nullptr || !overflow->isVisible());
  // "Close" is reached by a click.
  bool closed = false;
  p.FindMenu("s7")->Click = [&] { closed = true; };
  ASSERT_TRUE(t::ClickMenu(p, "s7"));
  EXPECT_TRUE(closed);
  // A wide page keeps the platform's own look.
  p.SetClientSize(12000, 2235);
  t::ProcessEvents(20);
  EXPECT_TRUE(bar->styleSheet().isEmpty());
}

TEST_F(FormsRuntime, GeometryIsKeptInTwipsAndShownInPixels) {
  Probe& p = ProbeSlot().Get();
  EXPECT_EQ(Screen::TwipsPerPixelX(), 15);  // 96 DPI offscreen
  p.Label1.SetLeft(312);
  p.Label1.SetWidth(1560);
  EXPECT_EQ(p.Label1.Left(), 312);  // not a multiple of 15, still exact
  QWidget* w = t::WidgetOf(p.Label1);
  EXPECT_EQ(w->x(), 21);  // 20.8 pixels, rounded
  EXPECT_EQ(w->width(), 104);
  p.Label1.SetFontSize(8.25 + 2);
  EXPECT_DOUBLE_EQ(p.Label1.FontSize(), 10.25);
  EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 10.25);
  p.SetWidth(9000);
  p.SetHeight(4500);
  EXPECT_EQ(p.Width(), 9000);
  EXPECT_EQ(t::WidgetOf(p)->width(), 600);
  // A window-system change wins over the stored value.
  t::WidgetOf(p)->resize(500, 300);
  EXPECT_EQ(p.Width(), 7500);
  EXPECT_EQ(p.Height(), 4500);
}

TEST_F(FormsRuntime, WindowProceduresReplaceAndChainPerForm) {
  Probe& p = ProbeSlot().Get();
  static std::vector<std::uint32_t> seen;
  seen.clear();
  auto proc = +[](WindowHandle, std::uint32_t m, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    seen.push_back(m);
    return 7;
  };
  EXPECT_EQ(platform::SendMessage(p.Hwnd(), 15, 0, 0), 0);  // the default procedure
  platform::WindowProc old = platform::SetWindowLong(p.Hwnd(), platform::kGwlWndProc, proc);
  EXPECT_EQ(old, &platform::DefWindowProc);
  EXPECT_EQ(platform::SendMessage(p.Hwnd(), 1025, 125, 514), 7);
  EXPECT_EQ(seen, std::vector<std::uint32_t>{1025});
  EXPECT_EQ(platform::SetWindowLong(p.Hwnd(), 0, proc), nullptr);  // another index
  EXPECT_EQ(platform::SetWindowLong(p.Hwnd(), platform::kGwlWndProc, old), proc);
  EXPECT_EQ(platform::SendMessage(p.Hwnd(), 1025, 125, 514), 0);
  const WindowHandle gone = p.Hwnd();
  p.Unload();
  t::ProcessEvents(10);
  EXPECT_EQ(FormFromHandle(gone), nullptr);
  EXPECT_EQ(platform::SetWindowLong(gone, platform::kGwlWndProc, proc), nullptr);
  EXPECT_EQ(platform::SendMessage(gone, 1025, 125, 514), 0);
}

}  // namespace
}  // namespace tidrex::forms
