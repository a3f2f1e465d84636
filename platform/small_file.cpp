#include "platform/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tidrex::platform {

SmallFileRead ReadSmallFile(const std::string& path, std::string& text, std::size_t ceiling) {
  text.clear();
  // Looking before opening keeps devices from ever being opened; the non-blocking open covers
  // a FIFO swapped in between, and the fstat below decides on what was actually opened.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? SmallFileRead::kMissing : SmallFileRead::kUnreadable;
  if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > ceiling)
    return SmallFileRead::kUnreadable;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? SmallFileRead::kMissing : SmallFileRead::kUnreadable;
  SmallFileRead result = SmallFileRead::kUnreadable;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) <= ceiling) {
    // One byte past the ceiling tells a file that grew, or reports no size, from one that fits.
    const std::size_t limit = ceiling + 1;
    text.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : std::min<std::size_t>(limit, 4096));
    std::size_t used = 0;
    bool failed = false;
    while (used < limit) {
      if (used == text.size()) text.resize(std::min(limit, text.size() * 2));
      const ssize_t n = read(fd, text.data() + used, text.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      used += static_cast<std::size_t>(n);
    }
    if (!failed && used <= ceiling) {
      text.resize(used);
      result = SmallFileRead::kRead;
    }
  }
  close(fd);
  if (result != SmallFileRead::kRead) {
    text.clear();
    text.shrink_to_fit();
  }
  return result;
}

std::string ReadSmallFileText(const std::string& path, std::size_t ceiling) {
  std::string text;
  ReadSmallFile(path, text, ceiling);
  return text;
}

}  // namespace tidrex::platform
