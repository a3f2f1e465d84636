// The backdrop window: a full-screen gradient behind the configuration pages, with the
// program's title and the status line Label6.
#pragma once

#include <cstdint>

#include "platform/forms.h"

namespace tidrex::shell {

inline constexpr std::uint32_t kGradientTop = 0xFF80FF;  // 0xBBGGRR
inline constexpr std::uint32_t kGradientBottom = 0;

class Form10 : public forms::Form {
 public:
  Form10();

  forms::Label& Label1;
  forms::Label& Label2;
  forms::Label& Label6;

  // The colour of row `y` (0 at the top) of a gradient `rows` high, and how many rows the
  // last repaint drew.
  static std::uint32_t GradientColor(int y, int rows);
  int PaintedRows() const { return painted_rows_; }

 protected:
  void Form_Load() override;
  void Form_Resize() override;

 private:
  int painted_rows_ = 0;
};

forms::FormSlot<Form10>& Form10Slot();

}  // namespace tidrex::shell
