// The Internet files page: the cache listing above the stored Internet keep list.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

// The count labels reach up to the headings beside them: the designed 195 twips hold one
// digit, and a cache easily holds tens of thousands of entries.
inline constexpr forms::Twips kCountWidth = 735;

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

// Moves the selected entry of `from` to the end of `to`; false when nothing is selected.
bool MoveSelectedEntry(forms::ListBox& from, forms::ListBox& to);

}  // namespace tidrex::screens
