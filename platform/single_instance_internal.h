// The descriptors of the instance claim, shared by its two halves.
#pragma once

namespace tidrex::platform::instance_detail {
int& LockFd();    // the held lock, -1 for none
int& ListenFd();  // the listening socket, -1 for none
}  // namespace tidrex::platform::instance_detail
