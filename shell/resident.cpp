// The resident way: the window system comes up here and nowhere earlier.
#include "platform/forms.h"
#include "shell/form1a.h"
#include "shell/startup.h"

namespace tidrex::shell {

int RunResident(int argc, char** argv) {
  forms::InitializeApplication(argc, argv);
  Form1aSlot().Get();
  return forms::RunEventLoop();
}

}  // namespace tidrex::shell
