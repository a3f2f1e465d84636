// The Internet files page: the cache listing above the stored Internet keep list.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class Form3a : public Page {
 public:
  Form3a();
  std::string StatusText() override;

  forms::PictureBox& Picture1;
  forms::ListBox& List1;  // the cache entries
  forms::ListBox& List2;  // the page's working copy of the keep list
  forms::Label& Label5;
  forms::Label& Label2;
  forms::Label& Label4;
  forms::Label& Label1;
  forms::Label& Label6;

 protected:
  void LoadContent() override;

 private:
  void Fill();
  void ShowCounts();
  void MoveDown();
  void MoveUp();
  void Save();
};

forms::FormSlot<Form3a>& Form3aSlot();

}  // namespace tidrex::screens
