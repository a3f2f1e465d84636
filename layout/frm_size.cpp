#include "layout/frm_size.h"

#include <cmath>
#include <string>

namespace tidrex::layout {
namespace {

using forms::Control;
using forms::Twips;

// Twips properties take the nearest whole value, halves to even, as the Windows forms runtime
// stores a scaled single.
Twips Scaled(Twips v, double factor) { return Twips(std::nearbyint(double(v) * factor)); }

enum class Row { Full, Picture, MoveOnly };

struct Fragment {
  const char* text;
  Row row;
};

// Tested in this order, each on its own: a name holding two fragments is treated twice.
constexpr Fragment kFragments[] = {
    {"Frame", Row::Full},   {"Label", Row::Full},    {"Picture", Row::Picture},
    {"Check", Row::Full},   {"List", Row::Full},     {"Text", Row::Full},
    {"Command", Row::Full}, {"File1", Row::Full},    {"Dir", Row::Full},
    {"Drive", Row::MoveOnly},
};

void Apply(Control& c, Row row, const Factors& f) {
  if (row != Row::MoveOnly) {
    c.SetHeight(Scaled(c.Height(), row == Row::Picture ? f.picture_height : f.height));
    c.SetWidth(Scaled(c.Width(), f.width));
    if (c.HasFont()) c.SetFontSize(c.FontSize() + f.font_step);
  }
  if (row != Row::Picture) c.SetLeft(Scaled(c.Left(), f.left));
  c.SetTop(Scaled(c.Top(), f.top));
}

}  // namespace

std::optional<Factors> FactorsForWidth(double px) {
  if (px > 1020 || px == 1020) return Factors{1.6, 1.6, 4, 1.6, 1.6, 1.7};
  if (px > 790 || px == 790) return Factors{1.3, 1.3, 2, 1.3, 1.3, 1.35};
  return std::nullopt;  // 630 or less, or the centre-only band
}

void ResizeForm(forms::Form& page) {
  const Twips screen_w = forms::Screen::Width();
  const Twips screen_h = forms::Screen::Height();
  const double px = double(screen_w) / double(forms::Screen::TwipsPerPixelX());
  std::optional<Factors> f = FactorsForWidth(px);
  if (f) {
    page.SetWidth(Scaled(page.Width(), f->width));
    page.SetHeight(Scaled(page.Height(), f->height));
  }
  page.SetLeft(Twips(std::nearbyint((screen_w - page.Width()) / 2.0)));
  page.SetTop(Twips(std::nearbyint((screen_h - page.Height()) / 2.0)));
  if (!f) return;
  for (const auto& control : page.Controls()) {
    const std::string& name = control->Name();
    for (const Fragment& frag : kFragments)
      if (name.find(frag.text) != std::string::npos) Apply(*control, frag.row, *f);
  }
}

}  // namespace tidrex::layout
