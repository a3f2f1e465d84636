#include "screens/form3a.h"

#include "engine/internet_delete.h"
#include "engine/internet_keep_list.h"
#include "screens/entry_lists.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kCountFont{"MS Sans Serif", 9.75, true, false};
}

forms::FormSlot<Form3a>& Form3aSlot() {
  static forms::FormSlot<Form3a> slot;
  return slot;
}

Form3a::Form3a()
    : Page("Form3a", "Varnok Tidrex----Save Your Cookies Here", {400, 500, 50}),
      Picture1(AddPicture("Picture1", {0, 0, 1215, 2295})),
      List1(AddListBox("List1", {2400, 240, 3855, 840})),
      List2(AddListBox("List2", {2400, 1320, 3855, 840})),
      Label5(AddLabel("Label5", "", {2715, 0, kCountWidth, 240}, kCountFont)),
      Label2(AddLabel("Label2", "Internet Files Collected", {3480, 0, 2535, 300}, kCountFont)),
      Label4(AddLabel("Label4", "", {2715, 1080, kCountWidth, 240}, kCountFont)),
      Label1(AddLabel("Label1", "Internet Cookies Saved", {3600, 1080, 2655, 300}, kCountFont)),
      Label6(AddLabel("Label6",
                      "The top list shows all \"Cookies\"  collected.      To save a cookie double "
                      "click on it, then click \"Save\"",
                      {1320, 120, 975, 2115})) {
  List1.DblClick = [this] { MoveDown(); };
  List2.DblClick = [this] { MoveUp(); };

  NavigationCommand("sPath", "View Paths");
  NavigationCommand("sOptions", "Options");
  NavigationCommand("sCook", "User Folder");
  Command("sDeleteCookies", "Save", [this] { Save(); });
  NavigationCommand("sCookies", "Cookies");
  NavigationCommand("sHelp", "Help");
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseWithBusyCursor(); });
}

std::string Form3a::StatusText() {
  return std::to_string(List1.ListCount()) + " Internet Files Collected !";
}

void Form3a::LoadContent() { Fill(); }

void Form3a::Fill() {
  // One batch per list: a cache of tens of thousands of entries must not repaint per entry.
  const std::vector<std::string> listing = engine::ListCacheEntries();
  // Whole, as the clean matches them: a cut entry saved back would lose the kept URL.
  List2.AddItems(engine::LoadInternetKeepList());
  // A kept entry still in the cache is listed in both lists.
  List1.AddItems(listing);
  ShowCounts();
}

void Form3a::ShowCounts() {
  Label5.SetCaption(std::to_string(List1.ListCount()));
  Label4.SetCaption(std::to_string(List2.ListCount()));
}

void Form3a::MoveDown() {
  if (MoveSelectedEntry(List1, List2)) ShowCounts();
}

void Form3a::MoveUp() {
  if (MoveSelectedEntry(List2, List1)) ShowCounts();
}

void Form3a::Save() {
  engine::SaveInternetKeepList(List2.Items());
  List1.Clear();
  List2.Clear();
  Fill();
}

}  // namespace tidrex::screens
