// The About page: title, version, the author's note and the way on to the working pages.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class Form5 : public Page {
 public:
  Form5();
  std::string StatusText() override { return "About this program!"; }

  forms::Label& Label4;
  forms::Label& Label1;
  forms::Label& Label2;
  forms::Label& Label5;
  forms::Label& Label3;
  forms::PictureBox& Picture1;
};

forms::FormSlot<Form5>& Form5Slot();

}  // namespace tidrex::screens
