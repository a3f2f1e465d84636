#include "screens/navigation.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "screens/form1.h"
#include "screens/form2.h"
#include "screens/form3a.h"
#include "screens/form3c.h"
#include "screens/form4.h"
#include "screens/form5.h"
#include "screens/frm_path.h"
#include "screens/frm_user.h"
#include "shell/configuration_screens.h"

namespace tidrex::screens {

namespace {

constexpr int k13 = forms::kCursorArrowHourglass;
constexpr int k11 = forms::kCursorHourglass;

constexpr NavigationRow kRows[] = {
    {"Form1", "sPath", "frmPath", k13, false},
    {"Form1", "sOptions", "Form2", k13, false},
    {"Form1", "sInter", "Form3a", k13, false},
    {"Form1", "sCookies", "frmUser", k13, false},
    {"Form1", "sHelp", "Form4", k13, true},
    {"Form1", "sAbout", "Form5", k13, false},
    {"Form2", "sPaths", "frmPath", k13, false},
    {"Form2", "sInternet", "Form3a", k13, false},
    {"Form2", "sCookies", "frmUser", k13, false},
    {"Form2", "sHelp", "Form4a", k13, false},
    {"Form2", "sAbout", "Form5", k13, false},
    {"frmPath", "sOptions", "Form2", k13, false},
    {"frmPath", "sInter", "Form3a", k13, false},
    {"frmPath", "sCookies", "frmUser", k13, false},
    {"frmPath", "sAbout", "Form5", k13, false},
    {"frmUser", "sView", "frmPath", k13, false},
    {"frmUser", "sOptions", "Form2", k13, false},
    {"frmUser", "ViewInter", "Form3a", k13, false},
    {"frmUser", "sHelp", "Form4b", k13, true},
    {"frmUser", "sAbout", "Form5", k13, false},
    {"Form5", "sPath", "frmPath", k13, false},
    {"Form5", "sOptions", "Form2", k11, false},
    {"Form5", "sInter", "Form3a", k11, false},
    {"Form5", "sCookies", "frmUser", k11, false},
    {"Form3a", "sPath", "frmPath", k13, false},
    {"Form3a", "sOptions", "Form2", k11, false},
    {"Form3a", "sCook", "frmUser", k13, false},
    {"Form3a", "sCookies", "Form3c", 0, false},
    {"Form3a", "sHelp", "Form4c", k13, false},
    {"Form3a", "sAbout", "Form5", k13, false},
    {"Form3c", "sPath", "frmPath", k13, false},
    {"Form3c", "sOptions", "Form2", k11, false},
    {"Form3c", "sCook", "frmUser", k13, false},
    {"Form3c", "sReturn", "Form3a", 0, false},
    {"Form3c", "sHelp", "Form4d", k13, true},
    {"Form3c", "sAbout", "Form5", k13, false},
    // An information page's "Close" opens the page whose "Help" opened it.
    {"Form4", "sClose", "Form1", k13, false},
    {"Form4", "sAbout", "Form5", k13, false},
    {"Form4a", "sClose", "Form2", k11, false},
    {"Form4a", "sAbout", "Form5", k11, false},
    {"Form4b", "sClose", "frmUser", k11, false},
    {"Form4b", "sAbout", "Form5", k11, false},
    {"Form4c", "sClose", "Form3a", k11, false},
    {"Form4c", "sAbout", "Form5", k11, false},
    // The Internet files page is left for good; the cookie page takes its place.
    {"Form4c", "sCookies", "Form3c", 0, false, "Form3a"},
    {"Form4d", "sClose", "Form3c", k11, false},
    {"Form4d", "sAbout", "Form5", k11, false},
};

struct PageClass {
  const char* name;
  Page& (*open)();
  Page* (*loaded)();
};

template <auto Slot>
Page& OpenIn() {
  return Page::Open(Slot());
}
template <auto Slot>
Page* LoadedIn() {
  return Slot().Loaded();
}

constexpr PageClass kPages[] = {
    {"Form1", OpenIn<Form1Slot>, LoadedIn<Form1Slot>},
    {"Form2", OpenIn<Form2Slot>, LoadedIn<Form2Slot>},
    {"frmPath", OpenIn<FrmPathSlot>, LoadedIn<FrmPathSlot>},
    {"frmUser", OpenIn<FrmUserSlot>, LoadedIn<FrmUserSlot>},
    {"Form3a", OpenIn<Form3aSlot>, LoadedIn<Form3aSlot>},
    {"Form3c", OpenIn<Form3cSlot>, LoadedIn<Form3cSlot>},
    {"Form4", OpenIn<Form4Slot>, LoadedIn<Form4Slot>},
    {"Form4a", OpenIn<Form4aSlot>, LoadedIn<Form4aSlot>},
    {"Form4b", OpenIn<Form4bSlot>, LoadedIn<Form4bSlot>},
    {"Form4c", OpenIn<Form4cSlot>, LoadedIn<Form4cSlot>},
    {"Form4d", OpenIn<Form4dSlot>, LoadedIn<Form4dSlot>},
    {"Form5", OpenIn<Form5Slot>, LoadedIn<Form5Slot>},
};

const PageClass& ClassOf(const std::string& name) {
  auto it = std::find_if(std::begin(kPages), std::end(kPages), [&](const PageClass& c) { return c.name == name; });
  if (it == std::end(kPages)) throw std::logic_error("no page named " + name);
  return *it;
}

class ShellEntry : public shell::ConfigurationScreens {
 public:
  void LoadStartPage() override { Form1Slot().Get(); }
  forms::Form& OpenStartPage() override { return Page::Open(Form1Slot()); }
  void OpenAboutPage() override { Page::Open(Form5Slot()); }
};

}  // namespace

std::span<const NavigationRow> NavigationRows() { return kRows; }

const NavigationRow* FindNavigationRow(const std::string& page, const std::string& item) {
  for (const NavigationRow& row : kRows)
    if (row.page == page && row.item == item) return &row;
  return nullptr;
}

Page& OpenPage(const std::string& name) { return ClassOf(name).open(); }

Page* LoadedPage(const std::string& name) { return ClassOf(name).loaded(); }

void ConnectToShell() {
  static ShellEntry entry;
  shell::ConnectConfigurationScreens(entry);
}

}  // namespace tidrex::screens
