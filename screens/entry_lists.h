// The pair of lists on the Internet files and cookie folder pages: an entry moves from one
// list to the other by a double-click, and a count label stands above each list.
#pragma once

#include "platform/forms.h"

namespace tidrex::screens {

// The count labels reach up to the headings beside them: the designed 195 twips hold one
// digit, and a cache easily holds tens of thousands of entries.
inline constexpr forms::Twips kCountWidth = 735;

// Moves the selected entry of `from` to the end of `to`; false when nothing is selected.
bool MoveSelectedEntry(forms::ListBox& from, forms::ListBox& to);

}  // namespace tidrex::screens
