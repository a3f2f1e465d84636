// Browser cache fixtures written from the on-disk formats: Chromium "simple" cache entry
// files, Firefox cache2 entry files and WebKit network cache records, plus the profile
// folders the browsers keep them in.
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

// ---- WebKit ---------------------------------------------------------------------------------

inline constexpr std::string_view kWebKitSalt = "\x5a\x11\x7e\x02\x90\xab\x33\xc4";

inline std::string Sha1Bytes(std::string_view data) {
  const std::string hex = platform::Sha1Hex(data);
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}
inline std::string UpperHexOf(std::string_view bytes) {
  return platform::UpperHex(std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

inline void PutWebKitString(std::string* s, std::string_view text) {
  PutLe32(s, static_cast<std::uint32_t>(text.size()));
  s->push_back('\1');  // 8-bit characters
  s->append(text);
}

struct WebKitRecordOptions {
  std::uint32_t version = 17;
  std::string partition;            // empty: the unpartitioned cache
  std::string type = "Resource";
  bool old_hash_rule = false;       // NUL after each string, as older WebKit hashed keys
  bool body_in_blob = false;
};

// The key hash and partition hash of a record, as WebKit computes them with `salt`.
inline std::string WebKitKeyHash(std::string_view url, const WebKitRecordOptions& o = {},
                                 std::string_view salt = kWebKitSalt) {
  const std::string nul = o.old_hash_rule ? std::string(1, '\0') : std::string();
  return Sha1Bytes(std::string(salt) + o.partition + nul + o.type + nul + std::string(url) + nul);
}
inline std::string WebKitPartitionHash(const WebKitRecordOptions& o = {}, std::string_view salt = kWebKitSalt) {
  return Sha1Bytes(std::string(salt) + o.partition + (o.old_hash_rule ? std::string(1, '\0') : std::string()));
}

// A record file: metadata, the response header, and the body unless it is in a blob.
inline std::string WebKitRecordFile(std::string_view url, std::string_view body, const WebKitRecordOptions& o = {},
                                    std::string_view salt = kWebKitSalt) {
  std::string s;
  PutLe32(&s, o.version);
  PutWebKitString(&s, o.partition);
  PutWebKitString(&s, o.type);
  PutWebKitString(&s, url);
  PutLe32(&s, 0xffffffffu);  // no range
  s += WebKitKeyHash(url, o, salt);
  s += WebKitPartitionHash(o, salt);
  PutLe64(&s, 0x41d9a0b0c0000000ULL);  // time stamp, a double
  const std::string header = "\x20\0\0\0\x01" + std::string(url) + "\x09\0\0\0\x01text/html";
  s += Sha1Bytes(header);
  PutLe64(&s, header.size());
  s += Sha1Bytes(std::string(salt) + std::string(body));
  PutLe64(&s, body.size());
  s.push_back(o.body_in_blob ? '\0' : '\1');
  s += Sha1Bytes(s);  // the checksum: not checked by the reader
  s += header;
  if (!o.body_in_blob) s.append(body);
  return s;
}

// A WebKit network cache below `cache_dir` (".../WebKitCache"): the version folder with its
// salt, created on first use.
inline std::string WebKitVersionDir(const std::string& cache_dir, std::uint32_t version = 17,
                                    std::string_view salt = kWebKitSalt) {
  const std::string dir = cache_dir + "/Version " + std::to_string(version);
  if (!Sandbox::Exists(dir + "/salt")) {
    Sandbox::WriteFile(dir + "/salt", std::string(salt));
    Sandbox::MakeDirs(dir + "/Blobs");
  }
  return dir;
}

// Writes the record of `url`; returns its path. A body in a blob is written to the blob
// store and hard-linked beside the record, as WebKit does.
inline std::string WriteWebKitRecord(const std::string& cache_dir, std::string_view url,
                                     std::string_view body = "body", const WebKitRecordOptions& o = {}) {
  const std::string version = WebKitVersionDir(cache_dir, o.version);
  const std::string folder = version + "/Records/" + UpperHexOf(WebKitPartitionHash(o)) + "/" + o.type;
  const std::string path = folder + "/" + UpperHexOf(WebKitKeyHash(url, o));
  Sandbox::WriteFile(path, WebKitRecordFile(url, body, o));
  if (o.body_in_blob) {
    const std::string blob = version + "/Blobs/" + UpperHexOf(Sha1Bytes(std::string(kWebKitSalt) + std::string(body)));
    if (!Sandbox::Exists(blob)) Sandbox::WriteFile(blob, std::string(body));
    if (link(blob.c_str(), (path + "-blob").c_str()) != 0) throw std::runtime_error("cannot link " + blob);
  }
  return path;
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

// GNOME Web's profile: cookies in the XDG data folder, the network cache in the cache
// folder. Returns the cache folder (".../WebKitCache").
inline std::string MakeEpiphanyProfile(const Sandbox& box) {
  Sandbox::MakeDirs(box.Path("home/.local/share/epiphany"));
  const std::string cache = box.Path("home/.cache/epiphany/WebKitCache");
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
