// The browsers' HTTP caches seen as one URL cache: an ordered listing of entries (source
// URL and entry type) over every profile of every known browser, and deletion by source
// URL. Chromium-family "simple" caches, Firefox-family cache2 folders and WebKit network
// caches are read in place; nothing is copied, and only the few bytes that hold an entry's
// key are read.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/browser_profiles.h"

namespace tidrex::platform {

// Entry type bit of a live HTTP(S) entry, as the Windows cache reports it.
inline constexpr std::uint32_t kNormalCacheEntry = 1;

struct UrlCacheEntry {
  std::string source_url;
  // kNormalCacheEntry for a live HTTP(S) entry. 0 for an entry the browser already treats
  // as gone (older than a context-eviction marker) and for non-HTTP entries.
  std::uint32_t entry_type = 0;
};

// ---- Entry readers -------------------------------------------------------------------
// They see a file only through EntryBytes, never read outside [0, Size()), and never
// allocate more than the file can back. A truncated, garbled or foreign file gives nothing.

class EntryBytes {
 public:
  virtual ~EntryBytes() = default;
  virtual std::uint64_t Size() const = 0;
  // Fills `out` with the bytes at `offset`; false when they are not all there.
  virtual bool ReadAt(std::uint64_t offset, std::span<char> out) const = 0;
};

// Bytes held in memory (tests, fuzzing).
class SpanEntryBytes final : public EntryBytes {
 public:
  explicit SpanEntryBytes(std::string_view bytes) : bytes_(bytes.data(), bytes.size()) {}
  SpanEntryBytes(const char* data, std::size_t size) : bytes_(data, size) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<char> out) const override;

 private:
  std::span<const char> bytes_;
};

// Keys longer than this are not a browser's (both browsers cap URLs near 2 MiB).
inline constexpr std::uint32_t kMaxCacheKeyLength = 4u * 1024 * 1024;

struct ChromiumEntryHead {
  std::uint32_t version = 0;
  std::string key;
};

// A Chromium simple-cache stream file ("<h>_0" or "<h>_s"): magic, version, key length N,
// key hash, padding, then N bytes of key.
std::optional<ChromiumEntryHead> ReadChromiumEntry(const EntryBytes& file);

// The same reader over an open file: one small read at its start, more only for a long key.
std::optional<ChromiumEntryHead> ReadChromiumEntryFile(int fd);

// The URL of a Chromium cache key: "<digit>/<upload id>/" then the URL, or "_dk_..." with
// the URL after the last blank. Nothing for a key that is not of that form.
std::optional<std::string> ChromiumKeyUrl(std::string_view key);

// "<h>" of a Chromium entry's file names: the first 8 bytes of SHA-1 of the key as a
// little-endian integer in 16 lowercase hex digits.
std::string ChromiumEntryHash(std::string_view key);

struct FirefoxEntryHead {
  std::uint32_t version = 0;
  std::uint32_t fetch_count = 0;
  std::uint32_t last_modified = 0;  // Unix seconds
  std::uint32_t flags = 0;          // bit 0: pinned (not present in version 1)
  std::string key;
};

// A Firefox cache2 entry file: the body, then the metadata whose offset the last 4 bytes
// hold (big-endian): hash, chunk hashes, the header fields, the key and a NUL.
std::optional<FirefoxEntryHead> ReadFirefoxEntry(const EntryBytes& file);

// The same reader over an open file: one small read at its end, more only when the
// metadata lies further back.
std::optional<FirefoxEntryHead> ReadFirefoxEntryFile(int fd);

struct FirefoxKey {
  std::vector<std::string> tags;  // the tags before the URL, commas undoubled
  std::string url;
};

// Splits a Firefox cache key into its tags and the URL (the first tag that starts with ':').
std::optional<FirefoxKey> ParseFirefoxKey(std::string_view key);

// A Firefox entry's file name: SHA-1 of the key in 40 uppercase hex digits.
std::string FirefoxEntryHash(std::string_view key);

// A WebKit network cache record ("Version N/Records/<partition>/<type>/<hash>"): the
// record's metadata, little-endian and unaligned: storage version, the key (partition,
// type, identifier and range as strings: length, 8-bit flag, characters; a length of
// 0xffffffff is a null string), the key's hash and partition hash, then time stamp, header
// hash and size, body hash and size, whether the body is inline, and a checksum; the
// response header follows, then the body unless it lives in the blob store.
struct WebKitRecordHead {
  std::uint32_t version = 0;
  std::string partition;
  std::string type;        // "Resource" for an HTTP response
  std::string identifier;  // the URL for a Resource
  std::optional<std::string> range;
  std::array<unsigned char, 20> hash{};
  std::array<unsigned char, 20> partition_hash{};
  std::array<unsigned char, 20> body_hash{};
  std::uint64_t body_size = 0;
  bool body_inline = false;
};

std::optional<WebKitRecordHead> ReadWebKitRecord(const EntryBytes& file);

// The same reader over an open file: one small read at its start, more only for long keys.
std::optional<WebKitRecordHead> ReadWebKitRecordFile(int fd);

// Whether the record's key hashes to its stored hash under the cache's 8-byte salt (the
// "salt" file of the version folder), by the rule of current WebKit (the strings one after
// another) or of older ones (each non-null string with a NUL after it).
bool WebKitKeyMatchesSalt(const WebKitRecordHead& record, std::string_view salt);

// 40 uppercase hex digits, as WebKit names record files and partition folders.
std::string UpperHex(std::span<const unsigned char> bytes);

// The lowercase hex SHA-1 of `data` (exposed for tests of the file-name rules).
std::string Sha1Hex(std::string_view data);

// ---- The cache --------------------------------------------------------------------------

// Counts of the last listing, for tests and benchmarks.
struct UrlCacheStats {
  std::size_t cache_folders = 0;
  std::size_t entries = 0;       // entries listed
  std::size_t skipped_files = 0; // entry-named files that were truncated, garbled or foreign
};

class UrlCache {
 public:
  // The profiles are found afresh by every listing.
  UrlCache();
  // Only these profiles (tests and benchmarks).
  explicit UrlCache(std::vector<BrowserProfile> profiles);
  ~UrlCache();
  UrlCache(const UrlCache&) = delete;
  UrlCache& operator=(const UrlCache&) = delete;

  // Every entry of every profile, ordered by browser, profile, then file name. Also
  // remembers which files belong to each URL, for Delete.
  std::vector<UrlCacheEntry> List();

  // Removes every entry of `source_url` that the last listing found (listing first when
  // there was none), with all its files. False when there was no such entry or a file
  // could not be removed (it vanished meanwhile, or its folder is no longer writable).
  bool Delete(const std::string& source_url);

  // Delete for each URL in turn; the folders are worked on side by side. Returns how many
  // of the URLs were deleted completely.
  std::size_t DeleteAll(const std::vector<std::string>& source_urls);

  const UrlCacheStats& LastStats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The process's cache, as the Windows interface keeps one: each listing refreshes the
// URL-to-files index that the deletions after it use.
std::vector<UrlCacheEntry> ListUrlCacheEntries();
std::size_t DeleteUrlCacheEntries(const std::vector<std::string>& source_urls);

}  // namespace tidrex::platform
