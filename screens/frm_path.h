// The paths page: the folders a clean works on, read-only.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

class FrmPath : public Page {
 public:
  FrmPath();
  std::string StatusText() override { return "Location of files to be cleaned!"; }

  forms::PictureBox& Picture1;
  forms::Label& Label1;
  forms::Label& Label3;
  forms::ListBox& List1;
  forms::Label& Label2;

 protected:
  void LoadContent() override;
  bool RestoresCursorOnLoad() const override { return false; }  // done before the filling
};

forms::FormSlot<FrmPath>& FrmPathSlot();

}  // namespace tidrex::screens
