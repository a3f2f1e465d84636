// Start-up: the choice between unattended and resident mode.
#pragma once

#include <string>

namespace tidrex::shell {

// The process entry. Unattended mode cleans and returns without ever touching the window
// system, so it runs from cron with no display and no session bus.
int Main(int argc, char** argv);

// The resident way: the window system, the tray icon and the start-up form.
int RunResident(int argc, char** argv);

}  // namespace tidrex::shell
