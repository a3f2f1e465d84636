// The user folder page: browse drives and folders and store the folder a clean empties.
#pragma once

#include "screens/page_frame.h"

namespace tidrex::screens {

// What the page says when the user saves a folder that a clean would refuse to empty.
inline constexpr const char* kRefusedFolderText =
    "This folder cannot be cleaned: emptying it would damage your system or this program. "
    "Please choose a folder that holds only files you want deleted.";
inline constexpr const char* kRefusedFolderTitle = "Varnok Info.....";
// What it says when the folder's path is too long to be stored and cleaned safely.
inline constexpr const char* kLongFolderText =
    "This folder's path is too long to be stored: it may be at most 254 characters. "
    "Please choose a folder with a shorter path.";

class FrmUser : public Page {
 public:
  FrmUser();
  std::string StatusText() override;

  forms::PictureBox& Picture1;
  forms::Label& Label3;
  forms::Label& Label1;
  forms::DriveListBox& Drive1;
  forms::DirListBox& Dir1;
  forms::Label& Label2;
  forms::FileListBox& File1;

 protected:
  void LoadContent() override;
  bool RestoresCursorOnLoad() const override { return false; }

 private:
  void DriveChanged();
  void Save();

  std::string drive_;          // the drive the folder tree is on
  bool restoring_drive_ = false;
};

forms::FormSlot<FrmUser>& FrmUserSlot();

}  // namespace tidrex::screens
