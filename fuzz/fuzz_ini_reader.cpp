// Reads arbitrary bytes as "Clean.ini" and checks that a write is always read back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/private_profile.h"

using tidrex::platform::ApplyProfileWrites;
using tidrex::platform::ReadProfileText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const char* const kSections[] = {"Delete", "delete", "User", "Internet", "sAppPath", "x"};
  static const char* const kKeys[] = {"User", "Temp", "Temporary Internet Files", "sFile0", "sFile1", "k"};
  unsigned pick = size ? data[0] : 0;
  // Names asked for with blanks around them find the same entries as without.
  const std::string pad = pick >= 216 ? " \t" : "";
  const std::string bare_key = kKeys[(pick / 6) % 6];
  const std::string section = pad + kSections[pick % 6] + pad;
  const std::string key = bare_key + pad;
  std::string before = ReadProfileText(text, section, key, "0", 255);
  if (before.size() > 254) abort();
  if (before != ReadProfileText(text, kSections[pick % 6], bare_key, "0", 255)) abort();

  // Whatever the file held, the value just written is the value read, and other keys keep theirs.
  const std::string value = "v" + std::to_string(size);
  std::string after = ApplyProfileWrites(text, {{section, key, value}});
  if (ReadProfileText(after, section, key, "0", 255) != value) abort();
  const std::string other = bare_key == "k" ? "sFile0" : "k";
  if (ReadProfileText(after, section, other, "0", 255) != ReadProfileText(text, section, other, "0", 255)) abort();
  // A second write of the same key replaces in place: the file does not grow by a line.
  std::string again = ApplyProfileWrites(after, {{section, key, value}});
  if (again != after) abort();
  return 0;
}
