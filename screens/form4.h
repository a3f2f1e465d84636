// The information pages: one block of help text per working page, and the way back to it.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class InfoPage : public Page {
 public:
  struct Design {
    const char* name;
    const char* caption;
    const char* text;
    forms::Rect text_rect;
  };

  std::string StatusText() override { return "Hope this information helps!"; }

  forms::PictureBox& Picture1;
  forms::Label& Label1;

 protected:
  explicit InfoPage(Design design);
};

class Form4 : public InfoPage {
 public:
  Form4();
};
class Form4a : public InfoPage {
 public:
  Form4a();
};
class Form4b : public InfoPage {
 public:
  Form4b();
};
class Form4c : public InfoPage {
 public:
  Form4c();
};
class Form4d : public InfoPage {
 public:
  Form4d();
};

forms::FormSlot<Form4>& Form4Slot();
forms::FormSlot<Form4a>& Form4aSlot();
forms::FormSlot<Form4b>& Form4bSlot();
forms::FormSlot<Form4c>& Form4cSlot();
forms::FormSlot<Form4d>& Form4dSlot();

}  // namespace tidrex::screens
