#include "shell/frm_unload.h"

#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "platform/forms.h"
#include "shell/form1a.h"

namespace tidrex::shell {

void UnloadAllForms() {
  for (forms::Form* f : forms::LoadedForms())
    if (f->Name() != kForm1aName) f->Unload();
}

void ExitProgram() {
  forms::Screen::SetMousePointer(forms::kCursorDefault);
  // Unloading the last form ends the event loop.
  for (forms::Form* f : forms::LoadedForms()) f->Unload();
}

void RemoveAllPaths() {
  const std::string ini = engine::ConfigFilePath();
  ExitProgram();
  engine::ShellDelete(ini);
}

}  // namespace tidrex::shell
