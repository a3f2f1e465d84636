// The test driver of the forms runtime.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "platform/forms_qt_internal.h"
#include "platform/forms_testing.h"

namespace tidrex::forms::testing {
namespace {

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }

QListWidget* ListOf(const Control& c) { return qobject_cast<QListWidget*>(c.Impl().widget); }

// Brings an item into view and gives its centre, in the view's viewport.
bool ItemPoint(QListWidget* w, int index, QPoint* at) {
  if (!w || index < 0 || index >= w->count()) return false;
  QListWidgetItem* item = w->item(index);
  w->scrollToItem(item);
  QRect r = w->visualItemRect(item);
  if (!r.isValid()) return false;
  *at = r.center();
  return true;
}

}  // namespace

QWidget* WidgetOf(const Form& form) { return form.Impl().window; }
QWidget* WidgetOf(const Control& control) { return control.Impl().widget; }

bool ClickMenu(Form& form, const std::string& item_name) {
  MenuItem* item = form.FindMenu(item_name);
  if (!item || !item->Visible()) return false;
  QMenuBar* bar = form.Impl().bar;
  if (!bar) return false;
  // The chain from the bar down to the item.
  std::vector<MenuItem*> chain;
  for (MenuItem* m = item; m; m = m->ParentItem()) chain.insert(chain.begin(), m);
  if (!chain.front()->Impl().in_menu_bar) return false;
  QAction* top = chain.front()->Impl().action;
  QRect r = bar->actionGeometry(top);
  if (!r.isValid()) return false;
  QTest::mouseClick(bar, Qt::LeftButton, {}, r.center());
  if (chain.size() == 1) return true;
  for (std::size_t i = 1; i < chain.size(); ++i) {
    QMenu* menu = chain[i - 1]->Impl().menu;
    if (!menu || !QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000)) return false;
    QAction* a = chain[i]->Impl().action;
    QRect ar = menu->actionGeometry(a);
    if (!ar.isValid() || !a->isVisible()) return false;
    QTest::mouseMove(menu, ar.center());
    QTest::mouseClick(menu, Qt::LeftButton, {}, ar.center());
  }
  return true;
}

std::vector<std::string> MenuBarCaptions(const Form& form) {
  std::vector<std::string> out;
  if (QMenuBar* bar = form.Impl().bar)
    for (QAction* a : bar->actions())
      if (a->isVisible()) out.push_back(a->text().toLocal8Bit().toStdString());
  return out;
}

bool ClickCheckBox(CheckBox& box) {
  auto* w = qobject_cast<QCheckBox*>(box.Impl().widget);
  if (!w || !w->isVisible()) return false;
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(std::min(8, w->width() / 2), w->height() / 2));
  return true;
}

static bool ClickRow(QListWidget* w, int index, bool twice) {
  QPoint at;
  if (!w || !w->isVisible() || !ItemPoint(w, index, &at)) return false;
  QWidget* vp = w->viewport();
  if (twice) {
    // A real double click: press, release, then the double-click event on the second press.
    QTest::mouseClick(vp, Qt::LeftButton, {}, at);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
  } else {
    QTest::mouseClick(vp, Qt::LeftButton, {}, at);
  }
  return true;
}

bool ClickListItem(ListBox& list, int index) { return ClickRow(ListOf(list), index, false); }
bool DoubleClickListItem(ListBox& list, int index) { return ClickRow(ListOf(list), index, true); }
bool ClickDirEntry(DirListBox& dirs, int index) { return ClickRow(ListOf(dirs), index, false); }
bool DoubleClickDirEntry(DirListBox& dirs, int index) { return ClickRow(ListOf(dirs), index, true); }

bool ChooseDrive(DriveListBox& drives, int index) {
  auto* combo = qobject_cast<QComboBox*>(drives.Impl().widget);
  if (!combo || !combo->isVisible() || index < 0 || index >= combo->count()) return false;
  QTest::mouseClick(combo, Qt::LeftButton);
  QAbstractItemView* view = combo->view();
  if (!QTest::qWaitFor([view] { return view->isVisible(); }, 2000)) return false;
  // The open list ignores a release within a double-click interval of its opening.
  QTest::qWait(QApplication::doubleClickInterval() + 100);
  QModelIndex mi = view->model()->index(index, combo->modelColumn(), view->rootIndex());
  view->scrollTo(mi);
  QRect r = view->visualRect(mi);
  if (!r.isValid()) return false;
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
  return QTest::qWaitFor([view] { return !view->isVisible(); }, 2000);
}

void CloseByTitleBar(Form& form) {
  QWidget* w = form.Impl().window;
  if (w) w->close();
}

void ProcessEvents(int ms) { QTest::qWait(ms); }

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  return QTest::qWaitFor(condition, timeout_ms);
}

namespace {
std::vector<QPointer<QTimer>>& Watchers() {
  static std::vector<QPointer<QTimer>> w;
  return w;
}
}  // namespace

void CancelPopupWatchers() {
  for (auto& w : Watchers())
    if (w) w->setInterval(0), w->setProperty("cancelled", true);
  Watchers().clear();
}

void ClickPopupItemWhenShown(const std::string& caption, int timeout_ms) {
  auto* watcher = new QTimer(QCoreApplication::instance());
  Watchers().push_back(watcher);
  auto* clock = new QElapsedTimer();
  clock->start();
  QString want = Q(caption);
  watcher->setInterval(5);
  QObject::connect(watcher, &QTimer::timeout, [watcher, clock, want, timeout_ms] {
    auto stop = [&] {
      watcher->stop();
      watcher->deleteLater();
      delete clock;
    };
    if (clock->elapsed() > timeout_ms || watcher->property("cancelled").toBool()) return stop();
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    if (want.isEmpty()) {
      stop();
      QTest::keyClick(menu, Qt::Key_Escape);
      return;
    }
    for (QAction* a : menu->actions()) {
      if (a->isSeparator() || !a->isVisible() || a->text() != want) continue;
      QRect r = menu->actionGeometry(a);
      stop();
      QTest::mouseMove(menu, r.center());
      QTest::mouseClick(menu, Qt::LeftButton, {}, r.center());
      return;
    }
  });
  watcher->start();
}

void UnloadEverything() {
  auto forms = LoadedForms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) (*it)->Unload();
  (void)QTest::qWaitFor([] { return PendingDestructions() == 0; }, 2000);
  ResetProgramEnd();
  SetMsgBoxAnswererForTesting({});
  Screen::SetMousePointer(kCursorDefault);
}

}  // namespace tidrex::forms::testing
