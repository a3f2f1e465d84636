#include "screens/frm_path.h"

#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "platform/shell_folders.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kTitleFont{"MS Sans Serif", 13.5, true, false};
const forms::FontSpec kListFont{"MS Sans Serif", 8.25, true, false};
}  // namespace

forms::FormSlot<FrmPath>& FrmPathSlot() {
  static forms::FormSlot<FrmPath> slot;
  return slot;
}

FrmPath::FrmPath()
    : Page("frmPath", "  Varnok Tidrex----Paths To Be Cleaned", {400, 500, 600}),
      Picture1(AddPicture("Picture1", {0, 0, 1215, 2295})),
      Label1(AddLabel("Label1", "Varnok", {1320, 0, 1935, 495}, kTitleFont)),
      Label3(AddLabel("Label3", "Tidrex Utility", {1680, 480, 2775, 375}, kTitleFont)),
      List1(AddListBox("List1", {1320, 960, 3255, 1035}, kListFont)),
      Label2(AddLabel("Label2",
                      "This form shows the location of the files to be cleaned. If these "
                      "locations do not match the location of the folders on your computer, "
                      "please let me know.",
                      {4800, 120, 1335, 1935})) {
  Command("sOptions", "Options", [this] {
    try {
      FollowNavigation("sOptions");
    } catch (...) {
    }
  });
  NavigationCommand("sInter", "View Cookies");
  NavigationCommand("sCookies", "User Folder");
  Command("sHelp", "Help", [] {}).SetVisible(false);  // this page has no help page
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseCommand(); });
}

void FrmPath::LoadContent() {
  const std::string file = engine::ConfigFilePath();
  forms::Screen::SetMousePointer(forms::kCursorDefault);
  const std::string cache = engine::GetFolderPath(platform::kCsidlInternetCache);
  const std::string cookies = engine::GetFolderPath(platform::kCsidlCookies);
  const std::string temp = engine::TempFolder();
  const std::string user = engine::ReadIniValue(file, "User", "sFile0", "0");
  List1.AddItem(cache);
  List1.AddItem(cookies);
  List1.AddItem(temp);
  if (user != "0" && !user.empty()) List1.AddItem(user + " \"Your file!\"");
}

}  // namespace tidrex::screens
