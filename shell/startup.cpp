#include "shell/startup.h"

#include "engine/cleaning_run.h"
#include "shell/win_proc.h"

namespace tidrex::shell {

int Main(int argc, char** argv) {
  // The start-up form's first step, taken before any window exists: the unattended clean
  // must run from cron, where there is no display to open.
  if (IsUnattendedCommandLine(JoinCommandLine(argc, argv))) {
    engine::HeadlessRunUi ui;
    engine::RunUnattendedClean(ui);
    return 0;
  }
  return RunResident(argc, argv);
}

}  // namespace tidrex::shell
