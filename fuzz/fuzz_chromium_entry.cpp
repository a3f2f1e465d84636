// Reads arbitrary bytes as a Chromium simple-cache entry file, from memory and from an open
// file, and checks that both readers agree and that what they return is backed by the input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/internet_cache.h"

using namespace tidrex::platform;

namespace {

int File() {
  static const int fd = memfd_create("chromium-entry", MFD_CLOEXEC);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto from_memory = ReadChromiumEntry(SpanEntryBytes(bytes));

  const int fd = File();
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  const auto from_file = ReadChromiumEntryFile(fd);
  if (from_memory.has_value() != from_file.has_value()) abort();

  if (from_memory) {
    if (from_memory->key != from_file->key || from_memory->version != from_file->version) abort();
    // The key is the input's bytes right after the 24-byte header.
    if (24 + from_memory->key.size() > size || bytes.substr(24, from_memory->key.size()) != from_memory->key) abort();
    if (ChromiumEntryHash(from_memory->key).size() != 16) abort();
  }

  // The input as a key: a URL, when there is one, is a blank-free tail of it.
  for (std::string_view key : {bytes, from_memory ? std::string_view(from_memory->key) : std::string_view()}) {
    if (auto url = ChromiumKeyUrl(key)) {
      if (url->empty() || key.size() < url->size() || key.substr(key.size() - url->size()) != *url) abort();
      for (char c : *url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) abort();
    }
  }
  return 0;
}
