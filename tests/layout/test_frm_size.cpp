// ResizeForm on real offscreen screens: this process's screen is chosen by its CTest entry
// (640, 800 or 1024 pixels wide); each suite checks the figures of its own screen.
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include "layout/frm_size.h"
#include "platform/forms.h"
#include "platform/forms_testing.h"

namespace tidrex::layout {
namespace {

using namespace tidrex::forms;

// A page as designed: 6270 x 2235 twips inside, the controls the fragments concern.
class Page : public Form {
 public:
  Page()
      : Form("PageUnderTest"),
        Label1(AddLabel("Label1", "x", {240, 120, 1200, 300})),
        Picture1(AddPicture("Picture1", {120, 200, 1500, 3000})),
        Drive1(AddDriveListBox("Drive1", {300, 600, 2000, 315})),
        ListLabel(AddLabel("ListLabel3", "both", {100, 100, 1000, 1000})),
        Timer1(AddTimer("Timer1", 400)),
        Frame1(AddLabel("NotAFrame", "none", {50, 60, 700, 800})) {
    SetWidth(6270);
    SetHeight(2235);
    AddMenu("sLabelMenu", "Label menu");
  }
  Label& Label1;
  PictureBox& Picture1;
  DriveListBox& Drive1;
  Label& ListLabel;
  Timer& Timer1;
  Label& Frame1;
};

int ScreenPixels() { return QGuiApplication::primaryScreen()->geometry().width(); }

TEST(Bands, WidthsOutsideEveryBandAreSettled) {
  EXPECT_FALSE(FactorsForWidth(320).has_value());
  EXPECT_FALSE(FactorsForWidth(640).has_value());
  EXPECT_FALSE(FactorsForWidth(789.9).has_value());
  ASSERT_TRUE(FactorsForWidth(790).has_value());
  EXPECT_DOUBLE_EQ(FactorsForWidth(790)->width, 1.3);
  EXPECT_DOUBLE_EQ(FactorsForWidth(1019.5)->picture_height, 1.35);
  ASSERT_TRUE(FactorsForWidth(1020).has_value());
  EXPECT_DOUBLE_EQ(FactorsForWidth(1020)->width, 1.6);
  EXPECT_DOUBLE_EQ(FactorsForWidth(1600)->font_step, 4);
  EXPECT_DOUBLE_EQ(FactorsForWidth(1600)->picture_height, 1.7);
}

TEST(Screen640, PageKeepsItsSizeAndIsCentred) {
  ASSERT_EQ(ScreenPixels(), 640);
  Page p;
  ResizeForm(p);
  EXPECT_EQ(p.Width(), 6270);
  EXPECT_EQ(p.Height(), 2235);
  EXPECT_EQ(p.Left(), (9600 - 6270) / 2);
  EXPECT_EQ(p.Top(), 2482);  // 2482.5, to even
  EXPECT_EQ(p.Label1.Width(), 1200);
  EXPECT_EQ(p.Label1.Left(), 240);
  EXPECT_DOUBLE_EQ(p.Label1.FontSize(), 8.25);
  EXPECT_EQ(p.Picture1.Height(), 3000);
}

TEST(Screen800, ThePartsOwnFigures) {
  ASSERT_EQ(ScreenPixels(), 800);
  Page p;
  ResizeForm(p);
  p.Show();  // scaling happens per call, never again on showing
  p.Hide();
  p.Show();
  EXPECT_EQ(p.Width(), 8151);
  EXPECT_EQ(p.Height(), 2906);  // 2905.5, to even
  EXPECT_EQ(p.Left(), 1924);    // (12000 - 8151) / 2 = 1924.5, to even
  EXPECT_EQ(p.Top(), 3047);
  // A label 1200 wide at Left 240 becomes 1560 wide at Left 312, its font 2 points larger.
  EXPECT_EQ(p.Label1.Width(), 1560);
  EXPECT_EQ(p.Label1.Left(), 312);
  EXPECT_EQ(p.Label1.Height(), 390);
  EXPECT_DOUBLE_EQ(p.Label1.FontSize(), 10.25);
  // A picture 3000 high becomes 4050 high and keeps its Left.
  EXPECT_EQ(p.Picture1.Height(), 4050);
  EXPECT_EQ(p.Picture1.Left(), 120);
  // A drive list only moves.
  EXPECT_EQ(p.Drive1.Width(), 2000);
  EXPECT_EQ(p.Drive1.Height(), 315);
  EXPECT_DOUBLE_EQ(p.Drive1.FontSize(), 8.25);
  EXPECT_EQ(p.Drive1.Left(), 390);
  // A name holding "Label" and "List" is scaled by both rows.
  EXPECT_EQ(p.ListLabel.Width(), 1690);
  EXPECT_DOUBLE_EQ(p.ListLabel.FontSize(), 12.25);
  // The rule is a substring test: "NotAFrame" holds "Frame".
  EXPECT_EQ(p.Frame1.Width(), 910);
  // Timers and menu items are never touched.
  EXPECT_EQ(p.Timer1.Interval(), 400);
  EXPECT_EQ(p.FindMenu("sLabelMenu")->Caption(), "Label menu");
}

TEST(Screen1024, FactorsOfTheWidestBand) {
  ASSERT_EQ(ScreenPixels(), 1024);
  Page p;
  ResizeForm(p);
  EXPECT_EQ(p.Width(), 10032);
  EXPECT_EQ(p.Height(), 3576);
  EXPECT_EQ(p.Left(), (15360 - 10032) / 2);
  EXPECT_EQ(p.Label1.Width(), 1920);
  EXPECT_EQ(p.Label1.Left(), 384);
  EXPECT_DOUBLE_EQ(p.Label1.FontSize(), 12.25);
  EXPECT_EQ(p.Picture1.Height(), 5100);
  EXPECT_EQ(p.Picture1.Left(), 120);
  EXPECT_EQ(p.Drive1.Width(), 2000);
  EXPECT_EQ(p.Drive1.Left(), 480);
}

}  // namespace
}  // namespace tidrex::layout
