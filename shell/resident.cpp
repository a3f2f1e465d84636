// The resident way: the window system comes up here and nowhere earlier.
#include <cstdio>

#include "platform/display_session.h"
#include "platform/forms.h"
#include "platform/single_instance.h"
#include "shell/form1a.h"
#include "shell/startup.h"

namespace tidrex::shell {

int RunResident(int argc, char** argv) {
  // Qt aborts with a core dump when it finds no display; say what is missing instead.
  if (!platform::PrepareGraphicalSession()) {
    std::fputs("Quorvel: the resident program needs a graphical session (X11 or Wayland); "
               "\"Quorvel a\" runs the unattended clean without one.\n",
               stderr);
    return 1;
  }
  // A later start in the same session shows the running one's screens and ends: the way
  // back to a program that has no tray to show its icon in.
  switch (platform::ClaimInstance(platform::GraphicalSessionName())) {
    case platform::InstanceClaim::kHandedOver:
      return 0;
    case platform::InstanceClaim::kNoAnswer:
      std::fputs("Quorvel: Tidrex is already running in this session but did not answer.\n", stderr);
      return 1;
    case platform::InstanceClaim::kFirst:
      break;
  }
  forms::InitializeApplication(argc, argv);
  Form1aSlot().Get();
  platform::SetInstanceHandoverHandler([] {
    if (Form1a* f = Form1aSlot().Loaded()) f->mnuShow_Click(0);
  });
  return forms::RunEventLoop();
}

}  // namespace tidrex::shell
