// The graphical session the resident program runs in: whether one can be reached at all,
// and the name that tells one user's sessions apart.
#pragma once

#include <string>

namespace tidrex::platform {

// True when the window system the program would open answers: QT_QPA_PLATFORM naming a
// platform that needs no display server (offscreen, vnc, ...), a Wayland socket that
// accepts a connection, or an X server that accepts one. When only one of X11 and Wayland
// answers, the program is pointed at that one. Without any, Qt would abort.
bool PrepareGraphicalSession();

// The session the program would show its windows in, as a file-name-safe text: the Wayland
// socket or the X display (":0" and ":0.0" alike), else the platform's name.
std::string GraphicalSessionName();

}  // namespace tidrex::platform
