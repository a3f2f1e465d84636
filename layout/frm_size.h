// Module frmSize: every page keeps its designed size on a screen about 640 pixels wide and
// is centred and enlarged by fixed factors on wider screens.
#pragma once

#include <optional>

#include "platform/forms.h"

namespace tidrex::layout {

struct Factors {
  double height = 1;
  double width = 1;
  double font_step = 0;
  double left = 1;
  double top = 1;
  double picture_height = 1;
};

// The factors for a screen this many pixels wide; nothing for the widths that are only
// centred (above 630 and below 790, and 630 or less). Exactly 790 scales as the band above
// it, exactly 1020 as the band above that.
std::optional<Factors> FactorsForWidth(double screen_pixels);

// Centres `page` on the screen and, on wider screens, scales it and every control whose
// name holds one of the name fragments. Runs in a page's load step, before it shows itself.
void ResizeForm(forms::Form& page);

}  // namespace tidrex::layout
