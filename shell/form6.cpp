#include "shell/form6.h"

#include "engine/path_helpers.h"
#include "platform/shell_folders.h"

namespace tidrex::shell {

Form6::Form6()
    : Form("Form6"),
      File1(AddFileListBox("File1", {120, 120, 2400, 1800})),
      List1(AddListBox("List1", {2640, 120, 1200, 900})),
      List2(AddListBox("List2", {3960, 120, 1200, 900})),
      List3(AddListBox("List3", {2640, 1140, 1200, 900})),
      List4(AddListBox("List4", {3960, 1140, 1200, 900})) {
  SetCaption("Form6");
  SetClientSize(5400, 2200);
}

void Form6::Form_Load() {
  File1.SetPath(engine::GetFolderPath(platform::kCsidlCookies));
  File1.SetVisible(false);
  Hide();
}

forms::FormSlot<Form6>& Form6Slot() {
  static auto* slot = new forms::FormSlot<Form6>();
  return *slot;
}

}  // namespace tidrex::shell
