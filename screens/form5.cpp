#include "screens/form5.h"

namespace tidrex::screens {

forms::FormSlot<Form5>& Form5Slot() {
  static forms::FormSlot<Form5> slot;
  return slot;
}

Form5::Form5()
    : Page("Form5", "  Varnok Tidrex----About File", {400, 500, 600}),
      Label4(AddLabel("Label4",
                      "This program was written out of the frustration of trying to keep my hard "
                      "drives clean. This edition should do a better job of cleaning them, since I "
                      "finally figured out how the cookies work.:) Included is an option to run an "
                      "AutoClean from a task scheduler, by using the letter \"A\" in the command "
                      "line.. I hope that you enjoy the program.",
                      {1560, 120, 4575, 1335})),
      Label1(AddLabel("Label1", "Varnok Tidrex Utility", {1560, 1560, 2535, 255})),
      Label2(AddLabel("Label2", "Version  2.3.01", {4320, 1560, 1935, 255})),
      Label5(AddLabel("Label5", "support@example.com", {1680, 1920, 2295, 255})),
      Label3(AddLabel("Label3", "www.example.org", {4080, 1920, 2055, 255})),
      Picture1(AddPicture("Picture1", {0, 0, 1455, 2295})) {
  NavigationCommand("sPath", "View Paths");
  NavigationCommand("sOptions", "Options");
  NavigationCommand("sInter", "View Cookies");
  NavigationCommand("sCookies", "User Folder");
  // Close does not go back to where the user came from: it closes every screen.
  Command("sClose", "Close", [this] {
    Hide();
    ArmCloseAll();
  });
}

}  // namespace tidrex::screens
