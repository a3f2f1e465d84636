// The cookie folder page: the sites holding cookies, and the ones chosen for deletion.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class Form3c : public Page {
 public:
  Form3c();
  std::string StatusText() override;

  forms::PictureBox& Picture1;
  forms::ListBox& List1;  // the cookie folder's files
  forms::ListBox& List2;  // the names to delete
  forms::Label& Label5;
  forms::Label& Label2;
  forms::Label& Label4;
  forms::Label& Label1;
  forms::Label& Label6;

 protected:
  void LoadContent() override;

 private:
  void FillFromFolder();
  void ShowCounts();
  void DeleteChosen();
};

forms::FormSlot<Form3c>& Form3cSlot();

}  // namespace tidrex::screens
