// Private-profile (INI) files with the semantics of the Windows profile functions:
// section and key names match ignoring ASCII case, values are returned exactly, bytes
// pass through unchanged. Every write replaces the file atomically: a sibling file is
// written and renamed over the old one, so the file is always a complete old or new state.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tidrex::platform {

// The value of `key` in `section` of `file`, cut to at most `capacity - 1` bytes (the
// buffer of the Windows call holds a terminating NUL); `fallback` when the file, section or
// key is missing. An existing key with an empty value gives the empty text.
std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& fallback,
                             std::size_t capacity);

struct ProfileWrite {
  std::string section;
  std::string key;
  std::string value;
};

// Stores `value` under `key` in `section`, creating the file, section or key as needed.
// Returns false when the file could not be replaced; the old file is then unchanged.
bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value);

// Applies `writes` in order and replaces the file once. The result is byte for byte the
// file that the same writes one at a time would give. With `from_empty` the writes start
// from an empty file, as after deleting it, and everything else in the old file is dropped.
bool WriteProfileStrings(const std::string& file, const std::vector<ProfileWrite>& writes,
                         bool from_empty = false);

// Several keys of one section from a single reading of the file; the same answers as one
// GetProfileString per key.
std::vector<std::string> GetProfileStrings(const std::string& file, const std::string& section,
                                           const std::vector<std::string>& keys,
                                           const std::string& fallback, std::size_t capacity);

// The pure text transformation behind the writers, for tests and the fuzzer.
std::string ApplyProfileWrites(const std::string& text, const std::vector<ProfileWrite>& writes);
std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback,
                            std::size_t capacity);

}  // namespace tidrex::platform
