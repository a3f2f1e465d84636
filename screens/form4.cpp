#include "screens/form4.h"

namespace tidrex::screens {

namespace {

constexpr forms::Rect kWideText{1440, 120, 4695, 1935};
constexpr forms::Rect kNarrowText{1320, 120, 4815, 1935};

constexpr const char* kForm4Text =
    "This program will clean all the \"Cookies\", \"Temp Files\" and \"Temporary Internet "
    "Files\" that seem to accumulate very quickly.The program will automatically delete any "
    "files that you do not designate to keep. You should save any \"Cookies\" from sites where "
    "you have set up personal information. Just follow the directions on each form as you get "
    "to it, basicly you just save the \"Cookies\" you want and then check the boxes you want to "
    "clean. The program will do the rest. If you have any questions about any of the steps, "
    "just click on help, each form has its own help file.";

constexpr const char* kForm4aText =
    "Here you can designate the files you want to clean, checking the cookie box will clean all "
    "of the cookies from both the cookie folder and the Internet folder. You also have the "
    "option of cleaning your temp folder and another folder of your choice. One word of "
    "caution, do not clean the temp folder right after installing a program, until you reboot. "
    "Some installation programs store files in the temp folder that they need on the first "
    "reboot, to finish the installation. Also be sure you have selected the right user folder, "
    "there will be no warning before cleaning.";

constexpr const char* kForm4bText =
    "This form allows you to designate a folder of your choice to be cleaned. One word of "
    "caution, be careful what folder you choose, as everything within it, including other "
    "folders will be deleted. So make sure you choose the right folder. There will be no "
    "warning when it is cleaned. When you double click on a folder the contents will be listed "
    "on the right side of the form. When you click on \"Save\" the folder that is open will be "
    "the one set to clean and everything listed in the contents folder will be deleted. You can "
    "double check the path by going to \"View Paths\".";

constexpr const char* kForm4cText =
    "This form shows all of the \"Cookies\" you have accumulated in your travels on the "
    "internet. Double clicking on one in the top folder will move it to the bottom folder. Then "
    "click on \"Save\" to keep them. These store information about you and your computer, some "
    "of them are needed for your personal sites, so that you do not have to keep entering the "
    "same information each time you visit. The total internet files collected are listed below "
    "the form. You will notice that they grow very, very quickly as you use the internet. There "
    "are two types of cookies, Internet and Cookie folder. Click the \"Cookies\" Button to see "
    "the cookies in your Cookie Folder.";

constexpr const char* kForm4dText =
    "This form shows all of the \"Cookies\" you have accumulated in your Cookie folder. When a "
    "cookie is created in your Internet File it is also created here. You should not delete any "
    "from here that you have marked to save in your Internet Cookies. If you find that you have "
    "more cookies collecting here then you have saved in your Internet File, just double click "
    "on the ones you do not want to keep. This will move them to the bottom list and then click "
    "on delete and they will be removed. Sometimes extra cookies do get created here and are "
    "not deleted when you remove the cookies from the Internet File.";

constexpr const char* kBackToCookies = "  Varnok Tidrex----Close Will  Take You Back To Cookies Page";

}  // namespace

forms::FormSlot<Form4>& Form4Slot() {
  static forms::FormSlot<Form4> slot;
  return slot;
}
forms::FormSlot<Form4a>& Form4aSlot() {
  static forms::FormSlot<Form4a> slot;
  return slot;
}
forms::FormSlot<Form4b>& Form4bSlot() {
  static forms::FormSlot<Form4b> slot;
  return slot;
}
forms::FormSlot<Form4c>& Form4cSlot() {
  static forms::FormSlot<Form4c> slot;
  return slot;
}
forms::FormSlot<Form4d>& Form4dSlot() {
  static forms::FormSlot<Form4d> slot;
  return slot;
}

InfoPage::InfoPage(Design design)
    : Page(design.name, design.caption, {400, 500, 0, "Timer2"}),
      Picture1(AddPicture("Picture1", {0, 0, 1215, 2295})),
      Label1(AddLabel("Label1", design.text, design.text_rect)) {
  // The page always unloads itself afterwards, as it is loaded afresh by every "Help".
  NavigationCommand("sClose", "Close");
  NavigationCommand("sAbout", "About");
}

Form4::Form4()
    : InfoPage({"Form4", "  Varnok Tidrex----Close Will  Take You Back To Main Start Page", kForm4Text,
                kWideText}) {}

Form4a::Form4a()
    : InfoPage({"Form4a", "  Varnok Tidrex----Close Will  Take You Back To Options Page", kForm4aText,
                kWideText}) {}

Form4b::Form4b()
    : InfoPage({"Form4b", "  Varnok Tidrex----Close Will  Take You Back", kForm4bText, kNarrowText}) {}

Form4c::Form4c()
    : InfoPage({"Form4c", kBackToCookies, kForm4cText, kNarrowText}) {
  NavigationCommand("sCookies", "Cookies");
}

Form4d::Form4d()
    : InfoPage({"Form4d", kBackToCookies, kForm4dText, kNarrowText}) {}

}  // namespace tidrex::screens
