// Private-profile (INI) files with the semantics of the Windows profile functions:
// section and key names match ignoring ASCII case and the blanks around them, values are
// returned exactly, bytes pass through unchanged. Files are read through ReadSmallFile: a
// FIFO, device, folder or file over the ceiling reads as missing and is never written.
// Every write is a read-modify-write under the file's UpdateLock, replacing the file through
// WriteFileAtomically, so the file is always a complete old or new state and concurrent
// writers from several processes never lose each other's keys.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tidrex::platform {

// The value of `key` in `section` of `file`, cut to at most `capacity - 1` bytes (the
// buffer of the Windows call holds a terminating NUL); `fallback` when the file, section or
// key is missing (its trailing spaces dropped). An existing key with an empty value gives
// the empty text.
std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& fallback,
                             std::size_t capacity);

struct ProfileWrite {
  std::string section;
  std::string key;
  std::string value;
};

// Stores `value` under `key` in `section`, creating the file, section or key as needed.
// Returns false when the file could not be replaced (read-only, unreadable, too large, or
// the result would be); the old file is then unchanged. Writing the value a key already has
// leaves the file untouched: same bytes, inode and times.
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

// One reading of a file that answers any number of lookups exactly as GetProfileString and
// GetProfileStrings would have answered at the moment it was taken.
class ProfileSnapshot {
 public:
  explicit ProfileSnapshot(const std::string& file);
  std::string GetString(const std::string& section, const std::string& key, const std::string& fallback,
                        std::size_t capacity) const;
  std::vector<std::string> GetStrings(const std::string& section, const std::vector<std::string>& keys,
                                      const std::string& fallback, std::size_t capacity) const;

 private:
  std::string text_;  // before readable_, which is initialised by reading into it
  bool readable_;
};

// The pure text transformation behind the writers, for tests and the fuzzer.
std::string ApplyProfileWrites(const std::string& text, const std::vector<ProfileWrite>& writes);
std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback,
                            std::size_t capacity);
std::vector<std::string> ReadProfileTexts(const std::string& text, const std::string& section,
                                          const std::vector<std::string>& keys,
                                          const std::string& fallback, std::size_t capacity);

}  // namespace tidrex::platform
