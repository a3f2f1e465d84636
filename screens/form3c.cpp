#include "screens/form3c.h"

#include "engine/path_helpers.h"
#include "platform/shell_folders.h"
#include "screens/entry_lists.h"
#include "shell/form6.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kCountFont{"MS Sans Serif", 9.75, true, false};

// A fresh listing of the cookie folder through the work form's file list box.
std::vector<std::string> ListCookieFolder() {
  forms::FileListBox& file1 = shell::Form6Slot().Get().File1;
  file1.Refresh();
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(file1.ListCount()));
  for (int i = 0; i < file1.ListCount(); ++i) names.push_back(file1.List(i));
  return names;
}
}  // namespace

forms::FormSlot<Form3c>& Form3cSlot() {
  static forms::FormSlot<Form3c> slot;
  return slot;
}

Form3c::Form3c()
    : Page("Form3c", "Varnok Tidrex----Save Your Cookies Here", {400, 500, 50}),
      Picture1(AddPicture("Picture1", {0, 0, 1095, 2295})),
      List1(AddListBox("List1", {2400, 240, 3855, 840})),
      List2(AddListBox("List2", {2400, 1320, 3855, 840})),
      Label5(AddLabel("Label5", "", {2715, 0, kCountWidth, 240}, kCountFont)),
      Label2(AddLabel("Label2", "Cookie Folder Files", {3480, 0, 2775, 300}, kCountFont)),
      Label4(AddLabel("Label4", "", {2715, 1080, kCountWidth, 240}, kCountFont)),
      Label1(AddLabel("Label1", "Cookies To Delete", {3600, 1080, 2535, 300}, kCountFont)),
      Label6(AddLabel("Label6",
                      "The top list shows all \"Cookies\"  collected in your cookie folder. To "
                      "Delete one double click on it and then click on Delete.",
                      {1200, 0, 1035, 2205})) {
  List1.DblClick = [this] {
    if (MoveSelectedEntry(List1, List2)) ShowCounts();
  };
  List2.DblClick = [this] {
    if (MoveSelectedEntry(List2, List1)) ShowCounts();
  };

  NavigationCommand("sPath", "View Paths");
  NavigationCommand("sOptions", "Options");
  NavigationCommand("sCook", "User Folder");
  Command("sDeleteCookies", "Delete", [this] { DeleteChosen(); });
  NavigationCommand("sReturn", "Internet");
  NavigationCommand("sHelp", "Help");
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseWithBusyCursor(); });
}

std::string Form3c::StatusText() {
  return std::to_string(List1.ListCount()) + " Cookie Folder Files !";
}

void Form3c::LoadContent() { FillFromFolder(); }

void Form3c::FillFromFolder() {
  List1.AddItems(ListCookieFolder());
  ShowCounts();
}

void Form3c::ShowCounts() {
  Label5.SetCaption(std::to_string(List1.ListCount()));
  Label4.SetCaption(std::to_string(List2.ListCount()));
}

void Form3c::DeleteChosen() {
  std::string folder = engine::GetFolderPath(platform::kCsidlCookies);
  if (!folder.empty()) {
    if (folder.back() != '/') folder += '/';
    // A name that cannot be deleted stays in the folder and is listed again below.
    std::vector<std::string> paths;
    for (const std::string& name : List2.Items()) paths.push_back(folder + name);
    engine::ShellDeleteList(paths);
  }
  List1.Clear();
  List2.Clear();
  FillFromFolder();
}

}  // namespace tidrex::screens
