#include "screens/form1.h"

#include "screens/form2.h"
#include "screens/form3a.h"
#include "screens/form4.h"
#include "screens/form5.h"
#include "screens/frm_path.h"
#include "screens/frm_user.h"

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
  constexpr int k13 = forms::kCursorArrowHourglass;
  Command("sPath", "View Paths", [this] { NavigateTo(FrmPathSlot(), k13); });
  Command("sOptions", "Options", [this] { NavigateTo(Form2Slot(), k13); });
  Command("sInter", "View Cookies", [this] { NavigateTo(Form3aSlot(), k13); });
  Command("sCookies", "User Folder", [this] { NavigateTo(FrmUserSlot(), k13); });
  Command("sHelp", "Help", [this] { NavigateTo(Form4Slot(), k13, /*stays=*/true); });
  Command("sAbout", "About", [this] { NavigateTo(Form5Slot(), k13); });
  Command("sClose", "Close", [this] { CloseCommand(); });
}

}  // namespace tidrex::screens
