// One resident instance per user and graphical session. The first start holds a lock and
// listens on a socket in the user's runtime folder; a later start connects, is answered,
// and leaves the rest to the first one.
#pragma once

#include <functional>
#include <string>

namespace tidrex::platform {

enum class InstanceClaim {
  kFirst,       // this process is the instance (also when no lock can be had at all)
  kHandedOver,  // a running instance took the request and answered
  kNoAnswer,    // a running instance holds the lock but did not answer in time
};

// Claims the instance of `session` (a file-name-safe text). Needs no window system.
InstanceClaim ClaimInstance(const std::string& session, int timeout_ms = 4000);

// From now on, every later start of the same session runs `handler` on the event loop,
// after it was answered. Needs the application; does nothing unless ClaimInstance answered
// kFirst. The listening costs no wake-up while nobody starts.
void SetInstanceHandoverHandler(std::function<void()> handler);

// The folder that holds the lock and the socket: $XDG_RUNTIME_DIR, else a private folder
// of this user under /tmp. Empty when neither can be had.
std::string InstanceFolder();

// For tests: gives the claim up (closes the lock and the socket).
void ReleaseInstanceForTesting();

}  // namespace tidrex::platform
