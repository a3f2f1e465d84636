// Reads arbitrary bytes as a Firefox cache2 entry file, from memory and from an open file,
// checks that both readers agree, and that a parsed key is rebuilt exactly from its parts.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/internet_cache.h"

using namespace tidrex::platform;

namespace {

int File() {
  static const int fd = memfd_create("firefox-entry", MFD_CLOEXEC);
  return fd;
}

// Tags with their commas doubled, each closed by a comma, then ':' and the URL.
std::string Rebuild(const FirefoxKey& key) {
  std::string out;
  for (const std::string& tag : key.tags) {
    for (char c : tag) {
      out.push_back(c);
      if (c == ',') out.push_back(',');
    }
    out.push_back(',');
  }
  return out + ":" + key.url;
}

void CheckKey(std::string_view key) {
  if (auto parsed = ParseFirefoxKey(key)) {
    if (parsed->url.empty() || Rebuild(*parsed) != key) abort();
    for (const std::string& tag : parsed->tags)
      if (!tag.empty() && tag[0] == ':') abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto from_memory = ReadFirefoxEntry(SpanEntryBytes(bytes));

  const int fd = File();
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  const auto from_file = ReadFirefoxEntryFile(fd);
  if (from_memory.has_value() != from_file.has_value()) abort();

  if (from_memory) {
    const auto& a = *from_memory;
    const auto& b = *from_file;
    if (a.key != b.key || a.version != b.version || a.last_modified != b.last_modified || a.flags != b.flags ||
        a.fetch_count != b.fetch_count)
      abort();
    // The key and its NUL lie inside the input, before the trailing offset.
    if (a.key.empty() || a.key.size() + 1 + 4 > size || bytes.find(a.key) == std::string_view::npos) abort();
    if (FirefoxEntryHash(a.key).size() != 40) abort();
    CheckKey(a.key);
  }
  CheckKey(bytes);
  return 0;
}
