#include "screens/entry_lists.h"

namespace tidrex::screens {

bool MoveSelectedEntry(forms::ListBox& from, forms::ListBox& to) {
  const int index = from.ListIndex();
  if (index < 0 || index >= from.ListCount()) return false;
  const std::string entry = from.List(index);
  from.RemoveItem(index);
  to.AddItem(entry);
  return true;
}

}  // namespace tidrex::screens
