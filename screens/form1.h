// The main start page: a short instruction and the way to every other page.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class Form1 : public Page {
 public:
  Form1();
  std::string StatusText() override { return "Make a selection to get started!"; }

  forms::PictureBox& Picture1;
  forms::Label& Label1;
  forms::Label& Label3;
  forms::Label& Label2;
};

forms::FormSlot<Form1>& Form1Slot();

}  // namespace tidrex::screens
