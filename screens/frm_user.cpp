#include "screens/frm_user.h"

#include "engine/folder_emptying.h"
#include "engine/ini_settings.h"

namespace tidrex::screens {

namespace {
const forms::FontSpec kHeadingFont{"MS Sans Serif", 8.25, true, true};

bool IsUnset(const std::string& value) { return value == "0" || value.empty(); }
}  // namespace

forms::FormSlot<FrmUser>& FrmUserSlot() {
  static forms::FormSlot<FrmUser> slot;
  return slot;
}

FrmUser::FrmUser()
    : Page("frmUser", "Varnok Tidrex-----User Designated Folder To Clean", {50, 500, 50}),
      Picture1(AddPicture("Picture1", {0, 0, 1215, 2295})),
      Label3(AddLabel("Label3",
                      "Select the folder you want and then click \"Save\". It will now be cleaned "
                      "by the program.",
                      {1320, 120, 855, 2055})),
      Label1(AddLabel("Label1", "Selected Paths", {2280, 0, 1935, 255}, kHeadingFont)),
      Drive1(AddDriveListBox("Drive1", {2280, 240, 1935, 315})),
      Dir1(AddDirListBox("Dir1", {2280, 720, 1935, 1440})),
      Label2(AddLabel("Label2", "Contents", {4320, 0, 1935, 375}, kHeadingFont)),
      File1(AddFileListBox("File1", {4320, 360, 1935, 1845})) {
  Drive1.Change = [this] { DriveChanged(); };
  Dir1.Change = [this] { File1.SetPath(Dir1.Path()); };

  NavigationCommand("sView", "View Paths");
  NavigationCommand("sOptions", "Options");
  NavigationCommand("ViewInter", "View Cookies");
  Command("sSave", "Save", [this] { Save(); });
  NavigationCommand("sHelp", "Help");
  NavigationCommand("sAbout", "About");
  Command("sClose", "Close", [this] { CloseCommand(); });
}

void FrmUser::LoadContent() {
  drive_ = Drive1.Drive();
  File1.SetPath(Dir1.Path());
  const std::string stored = engine::ReadIniValueWhole(engine::ConfigFilePath(), "User", "sFile0", "0");
  // A stored folder that is gone, or on a drive that is not ready, leaves the tree where it
  // is; so does one too long to be cleaned, lest "Save" store what its cut names.
  if (!IsUnset(stored) && stored.size() <= engine::kLongestIniValue && Dir1.SetPath(stored))
    File1.SetPath(Dir1.Path());
}

std::string FrmUser::StatusText() {
  const std::string stored = engine::ReadIniValue(engine::ConfigFilePath(), "User", "sFile0", "0");
  return IsUnset(stored) ? "Select a folder to be cleaned!" : "This is the folder you have selected!";
}

void FrmUser::DriveChanged() {
  if (restoring_drive_) return;
  if (Dir1.SetPath(Drive1.Drive())) {
    drive_ = Drive1.Drive();
    return;
  }
  // The chosen drive cannot be opened: the page stays at its previous drive and folder.
  restoring_drive_ = true;
  Drive1.SetDrive(drive_);
  restoring_drive_ = false;
}

void FrmUser::Save() {
  const std::string folder = Dir1.Path();
  // Read back, a longer path would be cut and name another folder: it is never stored.
  if (folder.size() > engine::kLongestIniValue) {
    forms::MsgBox(kLongFolderText, forms::kMbInformationOk, kRefusedFolderTitle);
    return;
  }
  // Storing a folder that the clean refuses would let the user believe it is cleaned.
  if (engine::IsFolderRefusedForEmptying(folder)) {
    forms::MsgBox(kRefusedFolderText, forms::kMbInformationOk, kRefusedFolderTitle);
    return;
  }
  engine::WriteIniValue(engine::ConfigFilePath(), "User", "sFile0", folder);
  SetStatusLine("This is the folder you have selected!");
}

}  // namespace tidrex::screens
