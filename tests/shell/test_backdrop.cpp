// The backdrop window and the hidden work form.
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include "shell/form10.h"
#include "shell/form6.h"
#include "shell/screen_run_ui.h"
#include "screens/form1.h"
#include "screens/form5.h"
#include "tests/shell/shell_fixture.h"

namespace tidrex::shell::test {
namespace {

namespace t = forms::testing;

class Backdrop : public ShellTest {};
class Screen800x600 : public ShellTest {};

TEST_F(Screen800x600, SizesItselfToTheScreenLess200Twips) {
  ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().size(), QSize(800, 600));
  Form10& f = Form10Slot().Get();
  EXPECT_TRUE(f.Visible());
  EXPECT_EQ(f.Width(), 12000);
  EXPECT_EQ(f.Height(), 8800);
  EXPECT_EQ(f.Label1.Width(), 11800);
  EXPECT_EQ(f.Label6.Width(), 11800);
  EXPECT_EQ(f.Label6.Top(), 7200);
}

TEST_F(Backdrop, LabelsCarryTheDesignFontsWithAFallbackThatExists) {
  Form10& f = Form10Slot().Get();
  EXPECT_EQ(f.Label1.Font().name, "Comic Sans MS");
  EXPECT_DOUBLE_EQ(f.Label1.Font().size, 42);
  QWidget* w = t::WidgetOf(f.Label1);
  QFontInfo info(w->font());
  EXPECT_FALSE(info.family().isEmpty());  // whatever this system has, something is drawn
  EXPECT_TRUE(info.bold());
  EXPECT_TRUE(info.italic());
  EXPECT_GE(w->font().families().size(), 3);
}

TEST_F(Backdrop, GradientRunsFromTheTopColourToBlackAndFollowsEveryResize) {
  Form10& f = Form10Slot().Get();
  ASSERT_TRUE(t::WaitFor([&] { return f.PaintedRows() > 0; }));
  const int tpp = forms::Screen::TwipsPerPixelY();
  auto row = [&](int y) { return f.Point(300, y * tpp); };
  int rows = f.PaintedRows();
  // Every pixel row of the window is painted, a part-row at the bottom included.
  EXPECT_EQ(rows, t::WidgetOf(f)->height());
  EXPECT_EQ(row(0), 0xFF80FFu);
  EXPECT_EQ(row(rows - 1), 0u);
  const std::uint32_t mid = row(rows / 2);
  EXPECT_NEAR(int(mid & 0xFF), 128, 2);          // red halfway down
  EXPECT_NEAR(int((mid >> 8) & 0xFF), 64, 2);    // green
  EXPECT_NEAR(int((mid >> 16) & 0xFF), 128, 2);  // blue
  // Smaller: the new last row is black, not a colour from halfway down the old gradient.
  f.SetHeight(3000);
  ASSERT_TRUE(t::WaitFor([&] { return f.PaintedRows() == 200; }));
  rows = f.PaintedRows();
  EXPECT_EQ(row(0), 0xFF80FFu);
  EXPECT_EQ(row(rows - 1), 0u);
  // Larger again.
  f.SetHeight(9000);
  ASSERT_TRUE(t::WaitFor([&] { return f.PaintedRows() == 600; }));
  EXPECT_EQ(row(f.PaintedRows() - 1), 0u);
  // And what the window shows is what was drawn.
  QImage shot = t::WidgetOf(f)->grab().toImage();
  EXPECT_EQ(shot.pixelColor(5, 0), QColor(255, 128, 255));
  EXPECT_EQ(shot.pixelColor(5, shot.height() - 1), QColor(0, 0, 0));
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST_F(Backdrop, ARunsRepaintPaintsTheStatusLineBeforeItReturns) {
  Form10& f = Form10Slot().Get();
  t::ProcessEvents(50);
  PaintCounter counter;
  QWidget* label = t::WidgetOf(f.Label6);
  label->installEventFilter(&counter);
  ScreenRunUi ui;
  ui.SetStatusLine("Cleaning Files Now !");
  EXPECT_EQ(counter.paints, 0);  // a caption alone only schedules a paint
  ui.RepaintBackdrop();          // no event is processed from here on, as in a blocked run
  EXPECT_GE(counter.paints, 1);
  EXPECT_EQ(static_cast<QLabel*>(label)->text(), "Cleaning Files Now !");
  // A hidden backdrop is not painted (and not shown).
  f.Hide();
  counter.paints = 0;
  ui.RepaintBackdrop();
  EXPECT_EQ(counter.paints, 0);
  EXPECT_FALSE(f.Visible());
  label->removeEventFilter(&counter);
}

TEST_F(Backdrop, PagesAreTransientDialogsOfTheBackdropAndFollowANewOne) {
  SetSwitches("No", "No", "No");
  Form1a& tray = Start();
  tray.mnuShow_Click(0);
  Form10& backdrop = *Form10Slot().Loaded();
  screens::Form1& page = *screens::Form1Slot().Loaded();
  QWidget* pw = t::WidgetOf(page);
  QWidget* bw = t::WidgetOf(backdrop);
  ASSERT_NE(pw->windowHandle(), nullptr);
  EXPECT_EQ(pw->windowHandle()->transientParent(), bw->windowHandle());
  EXPECT_EQ(pw->windowType(), Qt::Dialog);
  EXPECT_EQ(bw->windowType(), Qt::Window);  // the backdrop itself is an ordinary window
  EXPECT_EQ(t::WidgetOf(tray)->windowType(), Qt::Window);
  // A page closed from its title bar still goes alone.
  t::CloseByTitleBar(page);
  t::ProcessEvents(20);
  EXPECT_FALSE(screens::Form1Slot().IsLoaded());
  EXPECT_TRUE(Form10Slot().IsLoaded());
  EXPECT_TRUE(backdrop.Visible());
  // After a close-all, the fresh backdrop owns the fresh page.
  screens::CloseAllScreens();
  t::ProcessEvents(20);
  tray.mnuShow_Click(8);
  ASSERT_TRUE(screens::Form5Slot().IsLoaded());
  EXPECT_EQ(t::WidgetOf(*screens::Form5Slot().Loaded())->windowHandle()->transientParent(),
            t::WidgetOf(*Form10Slot().Loaded())->windowHandle());
}

TEST_F(Backdrop, WorkFormIsNeverShownAndStartsEmptyAfterEachReload) {
  Form6& f = Form6Slot().Get();
  EXPECT_FALSE(f.Visible());
  EXPECT_FALSE(f.File1.Visible());
  f.List1.AddItem("http://a/");
  f.List4.AddItem("x");
  f.Unload();
  Form6& again = Form6Slot().Get();
  EXPECT_EQ(again.List1.ListCount(), 0);
  EXPECT_EQ(again.List4.ListCount(), 0);
  EXPECT_FALSE(again.Visible());
}

}  // namespace
}  // namespace tidrex::shell::test
