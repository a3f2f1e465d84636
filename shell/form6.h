// The hidden work form: the working lists of the cleaning runs and the Internet files page,
// and the listing of the cookie folder. Never shown; loaded again on first use after a
// close-all, so its lists start empty then.
#pragma once

#include "platform/forms.h"

namespace tidrex::shell {

class Form6 : public forms::Form {
 public:
  Form6();

  forms::FileListBox& File1;
  forms::ListBox& List1;
  forms::ListBox& List2;
  forms::ListBox& List3;
  forms::ListBox& List4;

 protected:
  void Form_Load() override;
};

forms::FormSlot<Form6>& Form6Slot();

}  // namespace tidrex::shell
