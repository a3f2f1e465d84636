// Reading the small files the program consults (its settings, browser profile lists,
// "Local State", autostart entries): bounded and never blocking, whatever sits at the path.
#pragma once

#include <cstddef>
#include <string>

namespace tidrex::platform {

// 4 MiB: eight times a settings file whose two lists hold every value that is ever read back
// (1,001 values of up to 254 characters each) and still a few milliseconds to read and parse.
inline constexpr std::size_t kSmallFileCeiling = 4u << 20;

enum class SmallFileRead {
  kRead,        // a regular file of at most the ceiling, read whole
  kMissing,     // nothing at the path (a dangling link included)
  kUnreadable,  // a FIFO, socket, device or folder, larger than the ceiling, or refused
};

// Reads the regular file at `path` (links followed) into `text` when it holds at most
// `ceiling` bytes. Anything else is never opened for long and never read past the ceiling;
// `text` is then empty. A file without a size (as in /proc) is read up to the ceiling.
SmallFileRead ReadSmallFile(const std::string& path, std::string& text,
                            std::size_t ceiling = kSmallFileCeiling);

// The file's text, or the empty text whenever ReadSmallFile does not answer kRead.
std::string ReadSmallFileText(const std::string& path, std::size_t ceiling = kSmallFileCeiling);

}  // namespace tidrex::platform
