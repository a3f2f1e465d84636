#include "shell/screen_run_ui.h"

#include "platform/forms.h"
#include "shell/configuration_screens.h"
#include "shell/form10.h"
#include "shell/form1a.h"

namespace tidrex::shell {

int ScreenRunUi::MessageBox(const std::string& text, int style, const std::string& title) {
  return forms::MsgBox(text, style, title);
}

void ScreenRunUi::SetStatusLine(const std::string& caption) {
  Form10& backdrop = Form10Slot().Get();
  backdrop.Label6.SetCaption(caption);
  backdrop.Label6.SetVisible(true);
}

void ScreenRunUi::RepaintBackdrop() {
  if (Form10* backdrop = Form10Slot().Loaded()) backdrop->Refresh();
}

bool ScreenRunUi::BackdropVisible() {
  Form10* backdrop = Form10Slot().Loaded();
  return backdrop && backdrop->Visible();
}

void ScreenRunUi::ShowBackdrop() { Form10Slot().Get().Show(); }

void ScreenRunUi::ShowMainStartPage() { Screens().OpenStartPage(); }

void ScreenRunUi::HideOptionsPage() {
  for (forms::Form* f : forms::LoadedForms())
    if (f->Name() == "Form2") f->Hide();
}

void ScreenRunUi::SetDefaultCursor() { forms::Screen::SetMousePointer(forms::kCursorDefault); }

void ScreenRunUi::HideAllForms() {
  auto forms = forms::LoadedForms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) (*it)->Hide();
}

void ScreenRunUi::HideAndUnloadAllForms() {
  auto forms = forms::LoadedForms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
    (*it)->Hide();
    (*it)->Unload();
  }
}

void ScreenRunUi::EnableCloseAllTimer() {
  if (Form1a* f = Form1aSlot().Loaded()) f->Timer2.SetEnabled(true);
}

void ScreenRunUi::Sleep(int ms) { forms::Sleep(ms); }

void ScreenRunUi::EndProgram() { forms::QuitEventLoop(0); }

}  // namespace tidrex::shell
