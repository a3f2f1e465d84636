// The options page: the three cleaning switches and the interactive clean.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class Form2 : public Page {
 public:
  Form2();
  std::string StatusText() override { return "Select the options to clean!"; }

  forms::PictureBox& Picture1;
  forms::CheckBox& Check3;
  forms::CheckBox& Check2;
  forms::CheckBox& Check1;
  forms::Label& Label5;

 protected:
  void LoadContent() override;

 private:
  void WriteSwitch(const forms::CheckBox& box, const std::string& key);
  void RunClean();
};

forms::FormSlot<Form2>& Form2Slot();

}  // namespace tidrex::screens
