// Reads arbitrary bytes as a WebKit network cache record, from memory and from an open
// file, and checks that both readers agree and that what they return is backed by the input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/internet_cache.h"

using namespace tidrex::platform;

namespace {

int File() {
  static const int fd = memfd_create("webkit-record", MFD_CLOEXEC);
  return fd;
}

// The encoded strings take at least their UTF-8 length divided by 3 (a 16-bit unit) or 2
// (a Latin-1 byte), plus five bytes each, from the input.
bool Backed(const WebKitRecordHead& h, std::size_t size) {
  std::size_t least = 4 + 3 * 5 + 4 + 2 * 20 + 8 + 20 + 8 + 20 + 8 + 1 + 20;
  for (const std::string* s : {&h.partition, &h.type, &h.identifier}) least += s->size() / 3;
  return least <= size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto from_memory = ReadWebKitRecord(SpanEntryBytes(bytes));

  const int fd = File();
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  const auto from_file = ReadWebKitRecordFile(fd);
  if (from_memory.has_value() != from_file.has_value()) abort();

  if (from_memory) {
    const WebKitRecordHead& a = *from_memory;
    const WebKitRecordHead& b = *from_file;
    if (a.version != b.version || a.partition != b.partition || a.type != b.type || a.identifier != b.identifier ||
        a.range != b.range || a.hash != b.hash || a.partition_hash != b.partition_hash ||
        a.body_size != b.body_size || a.body_inline != b.body_inline)
      abort();
    if (a.type.empty() || a.identifier.empty() || !Backed(a, size)) abort();
    if (a.body_inline && a.body_size > size) abort();
    if (UpperHex(a.hash).size() != 40) abort();
    // The salt is the input's first bytes: any answer will do, but it must not crash.
    (void)WebKitKeyMatchesSalt(a, bytes.substr(0, 8));
  }
  return 0;
}
