#include "screens/form1.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kTitleFont{"MS Sans Serif", 18, true, false};
}

forms::FormSlot<Form1>& Form1Slot() {
  static forms::FormSlot<Form1> slot;
  return slot;
}

Form1::Form1()
    : Page("Form1", "  Varnok Tidrex----Main Start Page", {400, 100, 600}),
      Picture1(AddPicture("Picture1", {0, -600, 1215, 2895})),
      Label1(AddLabel("Label1", "Varnok", {1440, 0, 1935, 615}, kTitleFont)),
      Label3(AddLabel("Label3", "Tidrex Utility", {2040, 360, 3615, 615}, kTitleFont)),
      Label2(AddLabel("Label2",
                      "Go to the View Internet Cookies page first and select the cookies you want "
                      "to save. Some of them contain information that you may have entered to set "
                      "up personal sites. If you save them first you will still have all the "
                      "information when you visit the sites again. Click on one of the options "
                      "above to get started.",
                      {1440, 840, 4575, 1335})) {
  NavigationCommand("sPath", "View Paths");
  NavigationCommand("sOptions", "Options");
  NavigationCommand("sInter", "View Cookies");
  NavigationCommand("sCookies", "User Folder");
  NavigationCommand("sHelp", "Help");
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseCommand(); });
}

}  // namespace tidrex::screens
