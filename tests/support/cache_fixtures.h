// Browser cache fixtures written from the on-disk formats: Chromium "simple" cache entry
// files and Firefox cache2 entry files, plus the profile folders the browsers keep them in.
// Header-only so that tests, benchmarks and the real-browser test share one writer.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/internet_cache.h"
#include "tests/support/sandbox.h"

namespace tidrex::testing {

// Appends the low `bytes` bytes of `v`, least or most significant first.
inline void Put(std::string* s, std::uint64_t v, int bytes, bool big_endian) {
  for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * (big_endian ? bytes - 1 - i : i))));
}
inline void PutLe32(std::string* s, std::uint32_t v) { Put(s, v, 4, false); }
inline void PutLe64(std::string* s, std::uint64_t v) { Put(s, v, 8, false); }
inline void PutBe32(std::string* s, std::uint32_t v) { Put(s, v, 4, true); }
inline void PutBe16(std::string* s, std::uint16_t v) { Put(s, v, 2, true); }

// ---- Chromium ----------------------------------------------------------------------------

inline constexpr std::uint64_t kChromiumEntryMagic = 0xfcfb6d1ba7725c30ULL;
inline constexpr std::uint64_t kChromiumEofMagic = 0xf4fa6f45970d41d8ULL;
inline constexpr std::uint64_t kChromiumRangeMagic = 0xeb97bf016553676bULL;

inline std::string ChromiumHeader(std::string_view key, std::uint32_t version) {
  std::string s;
  PutLe64(&s, kChromiumEntryMagic);
  PutLe32(&s, version);
  PutLe32(&s, static_cast<std::uint32_t>(key.size()));
  PutLe32(&s, 0x5eed1234);  // key hash: not checked by the reader
  PutLe32(&s, 0);           // padding
  s.append(key);
  return s;
}

inline void ChromiumEof(std::string* s, std::uint32_t stream_size) {
  PutLe64(s, kChromiumEofMagic);
  PutLe32(s, 1);           // flags: has CRC
  PutLe32(s, 0xdeadbeef);  // CRC
  PutLe32(s, stream_size);
  PutLe32(s, 0);
}

// "<h>_0": header and key, the body (stream 1), its end record, the HTTP headers
// (stream 0), their end record and the key's SHA-256.
inline std::string ChromiumStreamFile(std::string_view key, std::string_view body,
                                      std::uint32_t version = 5) {
  std::string s = ChromiumHeader(key, version);
  s.append(body);
  ChromiumEof(&s, static_cast<std::uint32_t>(body.size()));
  static constexpr char kHeaders[] = "HTTP/1.1 200 OK\0Cache-Control: max-age=3600\0\0";
  const std::string headers(kHeaders, sizeof kHeaders - 1);
  s.append(headers);
  ChromiumEof(&s, static_cast<std::uint32_t>(headers.size()));
  s.append(32, '\x5a');
  return s;
}

// "<h>_s": the sparse (range) data of an entry.
inline std::string ChromiumSparseFile(std::string_view key, std::string_view range) {
  std::string s = ChromiumHeader(key, 9);
  PutLe64(&s, kChromiumRangeMagic);
  PutLe64(&s, 0);  // offset
  PutLe64(&s, range.size());
  PutLe32(&s, 0);  // CRC
  PutLe32(&s, 0);
  s.append(range);
  return s;
}

inline std::string ChromiumGetKey(std::string_view url) { return "1/0/" + std::string(url); }
inline std::string ChromiumPartitionedKey(std::string_view top, std::string_view frame,
                                          std::string_view url, std::string_view prefix = "_dk_") {
  return "1/0/" + std::string(prefix) + std::string(top) + " " + std::string(frame) + " " +
         std::string(url);
}
inline std::string ChromiumPostKey(std::uint64_t upload_id, std::string_view url) {
  return "1/" + std::to_string(upload_id) + "/" + std::string(url);
}

// Writes the entry for `key`; returns the path of its "_0" file.
inline std::string WriteChromiumEntry(const std::string& cache_dir, std::string_view key,
                                      std::string_view body = "body") {
  const std::string path = cache_dir + "/" + platform::ChromiumEntryHash(key) + "_0";
  Sandbox::WriteFile(path, ChromiumStreamFile(key, body));
  return path;
}
inline std::string WriteChromiumSparse(const std::string& cache_dir, std::string_view key) {
  const std::string path = cache_dir + "/" + platform::ChromiumEntryHash(key) + "_s";
  Sandbox::WriteFile(path, ChromiumSparseFile(key, "0123456789"));
  return path;
}

// ---- Firefox ------------------------------------------------------------------------------

struct FirefoxEntryOptions {
  std::uint32_t version = 4;
  std::uint32_t last_modified = 1700000000;
  std::uint32_t flags = 0;
};

inline std::string FirefoxMetadata(std::string_view key, std::uint32_t body_size,
                                   const FirefoxEntryOptions& o = {}) {
  std::string s;
  PutBe32(&s, 0x12345678);  // metadata hash: not checked by the reader
  const std::uint32_t chunks = (body_size + 262143) / 262144;
  for (std::uint32_t i = 0; i < chunks; ++i) PutBe16(&s, static_cast<std::uint16_t>(i));
  PutBe32(&s, o.version);
  PutBe32(&s, 1);                // fetch count
  PutBe32(&s, o.last_modified);  // last fetched
  PutBe32(&s, o.last_modified);
  PutBe32(&s, 100);              // frecency
  PutBe32(&s, o.last_modified + 3600);  // expiration
  PutBe32(&s, static_cast<std::uint32_t>(key.size()));
  if (o.version != 1) PutBe32(&s, o.flags);
  s.append(key);
  s.push_back('\0');
  for (std::string_view text : {"request-method", "GET", "response-head",
                                "HTTP/1.1 200 OK\r\nCache-Control: max-age=3600\r\n", "net-response-time-onstart", "12"}) {
    s.append(text);
    s.push_back('\0');
  }
  if (o.version >= 4) PutBe32(&s, 0);
  PutBe32(&s, body_size);
  return s;
}

inline std::string FirefoxEntryFile(std::string_view key, std::string_view body,
                                    const FirefoxEntryOptions& o = {}) {
  return std::string(body) + FirefoxMetadata(key, static_cast<std::uint32_t>(body.size()), o);
}

inline std::string FirefoxKeyOf(std::string_view url, std::string_view tags = "a,") {
  return std::string(tags) + ":" + std::string(url);
}

// Writes cache2/entries/<SHA-1>; returns its path.
inline std::string WriteFirefoxEntry(const std::string& cache2, std::string_view key,
                                     std::string_view body = "body",
                                     const FirefoxEntryOptions& o = {}) {
  const std::string path = cache2 + "/entries/" + platform::FirefoxEntryHash(key);
  Sandbox::WriteFile(path, FirefoxEntryFile(key, body, o));
  return path;
}

// A body of `size` bytes that costs no disk: the file is extended with a hole.
inline std::string WriteSparseFirefoxEntry(const std::string& cache2, std::string_view key,
                                           std::uint32_t body_size) {
  const std::string path = cache2 + "/entries/" + platform::FirefoxEntryHash(key);
  Sandbox::MakeDirs(cache2 + "/entries");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  const std::string meta = FirefoxMetadata(key, body_size);
  const bool ok = pwrite(fd, meta.data(), meta.size(), body_size) == static_cast<ssize_t>(meta.size());
  close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
  return path;
}

inline std::string WriteSparseChromiumEntry(const std::string& cache_dir, std::string_view key,
                                            std::uint32_t body_size) {
  const std::string path = cache_dir + "/" + platform::ChromiumEntryHash(key) + "_0";
  Sandbox::MakeDirs(cache_dir);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  const std::string head = ChromiumHeader(key, 5);
  std::string tail;
  ChromiumEof(&tail, body_size);
  const bool ok = pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                  pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(head.size() + body_size)) ==
                      static_cast<ssize_t>(tail.size());
  close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
  return path;
}

// Sets a file's modification time (seconds since the epoch).
inline void SetMtime(const std::string& path, std::int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = seconds;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    throw std::runtime_error("cannot set mtime of " + path);
}

// ---- Profiles -----------------------------------------------------------------------------

// A Chromium-family profile in the standard places; returns its cache folder.
inline std::string MakeChromiumProfile(const Sandbox& box, const std::string& dir = "chromium",
                                       const std::string& profile = "Default") {
  Sandbox::MakeDirs(box.Path("home/.config/" + dir + "/" + profile));
  const std::string cache = box.Path("home/.cache/" + dir + "/" + profile + "/Cache/Cache_Data");
  Sandbox::MakeDirs(cache);
  return cache;
}

// A Firefox profile registered in ~/.mozilla/firefox/profiles.ini with a relative path;
// returns its cache2 folder. Several calls add several profiles.
inline std::string MakeFirefoxProfile(const Sandbox& box, const std::string& name = "abcd1234.default-esr") {
  const std::string root = box.Path("home/.mozilla/firefox");
  Sandbox::MakeDirs(root + "/" + name);
  std::string ini = Sandbox::ReadFile(root + "/profiles.ini");
  if (ini.empty()) ini = "[General]\nStartWithLastProfile=1\nVersion=2\n";
  std::size_t n = 0;
  for (std::size_t at = ini.find("[Profile"); at != std::string::npos; at = ini.find("[Profile", at + 1)) ++n;
  ini += "\n[Profile" + std::to_string(n) + "]\nName=" + name + "\nIsRelative=1\nPath=" + name + "\n";
  Sandbox::WriteFile(root + "/profiles.ini", ini);
  const std::string cache2 = box.Path("home/.cache/mozilla/firefox/" + name + "/cache2");
  Sandbox::MakeDirs(cache2 + "/entries");
  return cache2;
}

}  // namespace tidrex::testing
