#include "shell/form10.h"

#include <cmath>
#include <cstdlib>

namespace tidrex::shell {

using forms::FontSpec;
using forms::Screen;

Form10::Form10()
    : Form("Form10"),
      Label1(AddLabel("Label1", "Varnok Tidrex", {0, 10, 11800, 1100}, FontSpec{"Comic Sans MS", 42, true, true})),
      Label2(AddLabel("Label2", "", {0, 1300, 11800, 800}, FontSpec{"Comic Sans MS", 27.75, true, true})),
      Label6(AddLabel("Label6", "", {0, 7200, 11800, 1300}, FontSpec{"MS Sans Serif", 24, true, true})) {
  SetCaption("Varnok Tidrex");
  Label1.SetAlignment(2);
  Label2.SetAlignment(2);
  Label6.SetAlignment(2);
  Label1.SetForeColor(0x400040);
  Label2.SetForeColor(0xFFFFFF);
  Label6.SetForeColor(0xFFFFFF);
  SetLeft(0);
  SetTop(0);
}

void Form10::Form_Load() {
  const forms::Twips w = Screen::Width();
  const forms::Twips h = Screen::Height();
  SetHeight(h - 200);
  SetWidth(w);
  Label1.SetWidth(w - 200);
  Label6.SetWidth(w - 200);
  Label1.SetLeft(0);
  Label6.SetLeft(0);
  Label1.SetTop(10);
  Label6.SetTop(h - 1800);
  Show();
}

std::uint32_t Form10::GradientColor(int y, int rows) {
  auto split = [](std::uint32_t c, int shift) { return int((c >> shift) & 255); };
  const int h = rows - 1;  // y runs 0..h, so the last row is the bottom colour itself
  std::uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const int top = split(kGradientTop, shift);
    const int bottom = split(kGradientBottom, shift);
    double step = h > 0 ? std::abs(top - bottom) / double(h) : 0;
    if (top > bottom) step = -step;
    const int v = int(std::lround(top + y * step));
    out |= std::uint32_t(v & 255) << shift;
  }
  return out;
}

// One line per pixel row, from the top colour to black.
void Form10::Form_Resize() {
  const int tpp = Screen::TwipsPerPixelY();
  const int rows = (ScaleHeight() + tpp - 1) / tpp;  // a part-row at the bottom is painted too
  painted_rows_ = 0;
  if (rows <= 0) return;
  const forms::Twips width = ScaleWidth();
  for (int y = 0; y < rows; ++y) Line(0, y * tpp, width, y * tpp, GradientColor(y, rows));
  painted_rows_ = rows;
}

forms::FormSlot<Form10>& Form10Slot() {
  static auto* slot = new forms::FormSlot<Form10>();
  return *slot;
}

}  // namespace tidrex::shell
