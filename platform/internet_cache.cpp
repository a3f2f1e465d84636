#include "platform/internet_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace tidrex::platform {

// ---- SHA-1 ------------------------------------------------------------------------------

namespace {

using Sha1Digest = std::array<unsigned char, 20>;

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Sha1Block(std::uint32_t h[5], const unsigned char* p) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = (std::uint32_t{p[4 * i]} << 24) | (std::uint32_t{p[4 * i + 1]} << 16) |
           (std::uint32_t{p[4 * i + 2]} << 8) | std::uint32_t{p[4 * i + 3]};
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

Sha1Digest Sha1(std::string_view data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  while (n >= 64) {
    Sha1Block(h, p);
    p += 64;
    n -= 64;
  }
  unsigned char tail[128] = {};
  std::memcpy(tail, p, n);
  tail[n] = 0x80;
  const std::size_t tail_len = n < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_len - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  Sha1Block(h, tail);
  if (tail_len == 128) Sha1Block(h, tail + 64);
  Sha1Digest out;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<unsigned char>(h[i] >> (24 - 8 * j));
  return out;
}

std::string Hex(const unsigned char* bytes, std::size_t n, const char* digits) {
  std::string s(2 * n, '0');
  for (std::size_t i = 0; i < n; ++i) {
    s[2 * i] = digits[bytes[i] >> 4];
    s[2 * i + 1] = digits[bytes[i] & 15];
  }
  return s;
}

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

}  // namespace

std::string Sha1Hex(std::string_view data) {
  const Sha1Digest d = Sha1(data);
  return Hex(d.data(), d.size(), kLowerHex);
}

std::string ChromiumEntryHash(std::string_view key) {
  const Sha1Digest d = Sha1(key);
  // The first 8 bytes read as a little-endian integer, printed most significant first.
  unsigned char reversed[8];
  for (int i = 0; i < 8; ++i) reversed[i] = d[7 - i];
  return Hex(reversed, 8, kLowerHex);
}

std::string FirefoxEntryHash(std::string_view key) {
  const Sha1Digest d = Sha1(key);
  return Hex(d.data(), d.size(), kUpperHex);
}

// ---- Entry readers ----------------------------------------------------------------------

bool SpanEntryBytes::ReadAt(std::uint64_t offset, std::span<char> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

namespace {

std::uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t{u[0]} | (std::uint32_t{u[1]} << 8) | (std::uint32_t{u[2]} << 16) |
         (std::uint32_t{u[3]} << 24);
}

std::uint64_t Le64(const char* p) { return std::uint64_t{Le32(p)} | (std::uint64_t{Le32(p + 4)} << 32); }

std::uint32_t Be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{u[0]} << 24) | (std::uint32_t{u[1]} << 16) | (std::uint32_t{u[2]} << 8) |
         std::uint32_t{u[3]};
}

constexpr std::uint64_t kChromiumMagic = 0xfcfb6d1ba7725c30ULL;
constexpr std::size_t kChromiumHeaderSize = 24;
constexpr std::uint64_t kFirefoxChunkSize = 262144;

// Canonical URLs carry no blanks and no control characters; a key whose URL does is
// not a browser's.
bool IsPlausibleUrl(std::string_view url) {
  if (url.empty()) return false;
  for (char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::optional<ChromiumEntryHead> ReadChromiumEntry(const EntryBytes& file) {
  const std::uint64_t size = file.Size();
  if (size < kChromiumHeaderSize) return std::nullopt;
  char header[kChromiumHeaderSize];
  if (!file.ReadAt(0, header)) return std::nullopt;
  if (Le64(header) != kChromiumMagic) return std::nullopt;
  ChromiumEntryHead head;
  head.version = Le32(header + 8);
  const std::uint32_t key_length = Le32(header + 12);
  if (key_length == 0 || key_length > kMaxCacheKeyLength) return std::nullopt;
  if (key_length > size - kChromiumHeaderSize) return std::nullopt;
  head.key.resize(key_length);
  if (!file.ReadAt(kChromiumHeaderSize, std::span<char>(head.key.data(), key_length)))
    return std::nullopt;
  return head;
}

std::optional<std::string> ChromiumKeyUrl(std::string_view key) {
  std::string_view rest = key;
  // "<digit>/<upload id>/": the cache's key prefix (older caches have none).
  if (rest.size() >= 2 && rest[0] >= '0' && rest[0] <= '9' && rest[1] == '/') {
    std::size_t i = 2;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    if (i == 2 || i >= rest.size() || rest[i] != '/') return std::nullopt;
    rest.remove_prefix(i + 1);
  }
  std::string_view url = rest;
  if (rest.substr(0, 4) == "_dk_") {
    // Partitioned: "_dk_" [s_|cn_] top-frame site, blank, frame site, blank, URL.
    const std::size_t first = rest.find(' ');
    const std::size_t last = rest.rfind(' ');
    if (first == std::string_view::npos || first == last) return std::nullopt;
    url = rest.substr(last + 1);
  }
  if (!IsPlausibleUrl(url)) return std::nullopt;
  return std::string(url);
}

std::optional<FirefoxEntryHead> ReadFirefoxEntry(const EntryBytes& file) {
  const std::uint64_t size = file.Size();
  if (size < 4) return std::nullopt;
  const std::uint64_t end = size - 4;  // where the trailing offset field begins
  char field[4];
  if (!file.ReadAt(end, field)) return std::nullopt;
  const std::uint64_t meta = Be32(field);
  if (meta > end) return std::nullopt;
  const std::uint64_t chunks = (meta + kFirefoxChunkSize - 1) / kFirefoxChunkSize;
  const std::uint64_t header_at = meta + 4 + 2 * chunks;
  if (header_at + 4 > end) return std::nullopt;
  if (!file.ReadAt(header_at, field)) return std::nullopt;
  FirefoxEntryHead head;
  head.version = Be32(field);
  if (head.version == 0 || head.version > 16) return std::nullopt;
  const std::uint64_t header_size = head.version == 1 ? 28 : 32;
  if (header_at + header_size > end) return std::nullopt;
  char header[32];
  if (!file.ReadAt(header_at, std::span<char>(header, header_size))) return std::nullopt;
  head.fetch_count = Be32(header + 4);
  head.last_modified = Be32(header + 12);
  const std::uint32_t key_size = Be32(header + 24);
  head.flags = header_size == 32 ? Be32(header + 28) : 0;
  if (key_size == 0 || key_size > kMaxCacheKeyLength) return std::nullopt;
  const std::uint64_t key_at = header_at + header_size;
  if (key_size + 1 > end - key_at) return std::nullopt;  // key_at <= end holds here
  head.key.resize(std::size_t{key_size} + 1);
  if (!file.ReadAt(key_at, std::span<char>(head.key.data(), head.key.size()))) return std::nullopt;
  if (head.key.back() != '\0') return std::nullopt;
  head.key.pop_back();
  if (head.key.find('\0') != std::string::npos) return std::nullopt;
  return head;
}

std::optional<FirefoxKey> ParseFirefoxKey(std::string_view key) {
  FirefoxKey parsed;
  std::size_t i = 0;
  while (i < key.size()) {
    if (key[i] == ':') {
      parsed.url.assign(key.substr(i + 1));
      if (!IsPlausibleUrl(parsed.url)) return std::nullopt;
      return parsed;
    }
    // A tag runs to the next single comma; a doubled comma is a comma of its value.
    std::string tag;
    bool closed = false;
    while (i < key.size()) {
      if (key[i] == ',') {
        if (i + 1 < key.size() && key[i + 1] == ',') {
          tag.push_back(',');
          i += 2;
          continue;
        }
        ++i;
        closed = true;
        break;
      }
      tag.push_back(key[i++]);
    }
    if (!closed) return std::nullopt;
    parsed.tags.push_back(std::move(tag));
  }
  return std::nullopt;
}

// ---- WebKit network cache records ------------------------------------------------------

namespace {

// Reads WebKit's persistent encoding front to back, never past the file's end.
class WebKitDecoder {
 public:
  explicit WebKitDecoder(const EntryBytes& file) : file_(file), size_(file.Size()) {}

  bool Bytes(std::span<char> out) {
    if (out.size() > size_ - at_) return false;  // at_ <= size_ always
    if (!file_.ReadAt(at_, out)) return false;
    at_ += out.size();
    return true;
  }
  bool Skip(std::uint64_t n) {
    if (n > size_ - at_) return false;
    at_ += n;
    return true;
  }
  bool U32(std::uint32_t* v) {
    char b[4];
    if (!Bytes(b)) return false;
    *v = Le32(b);
    return true;
  }
  bool U64(std::uint64_t* v) {
    char b[8];
    if (!Bytes(b)) return false;
    *v = Le64(b);
    return true;
  }
  bool Bool(bool* v) {
    char b[1];
    if (!Bytes(b) || (b[0] != 0 && b[0] != 1)) return false;
    *v = b[0] == 1;
    return true;
  }
  template <std::size_t N>
  bool Digest(std::array<unsigned char, N>* d) {
    return Bytes(std::span<char>(reinterpret_cast<char*>(d->data()), N));
  }
  // A string as UTF-8; nothing for the null string. False when it is damaged.
  bool String(std::optional<std::string>* out) {
    std::uint32_t length = 0;
    if (!U32(&length)) return false;
    if (length == UINT32_MAX) {
      out->reset();
      return true;
    }
    bool is8bit = false;
    if (!Bool(&is8bit) || length > kMaxCacheKeyLength) return false;
    const std::uint64_t bytes = is8bit ? length : 2ull * length;
    if (bytes > size_ - at_) return false;  // before anything is allocated
    std::string raw(static_cast<std::size_t>(bytes), '\0');
    if (!Bytes(raw)) return false;
    if (is8bit && std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      *out = std::move(raw);  // ASCII, as URLs and partitions are: already UTF-8
      return true;
    }
    std::string text;
    text.reserve(raw.size());
    if (is8bit) {  // Latin-1
      for (unsigned char c : raw) AppendUtf8(&text, c);
    } else {  // UTF-16, little-endian
      for (std::size_t i = 0; i < raw.size(); i += 2) {
        std::uint32_t unit = static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (i + 3 >= raw.size()) return false;
          const std::uint32_t low =
              static_cast<unsigned char>(raw[i + 2]) | (static_cast<unsigned char>(raw[i + 3]) << 8);
          if (low < 0xDC00 || low > 0xDFFF) return false;
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
        AppendUtf8(&text, unit);
      }
    }
    *out = std::move(text);
    return true;
  }
  std::uint64_t Offset() const { return at_; }
  std::uint64_t Size() const { return size_; }

 private:
  static void AppendUtf8(std::string* s, std::uint32_t c) {
    if (c < 0x80) {
      s->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      s->push_back(static_cast<char>(0xC0 | (c >> 6)));
      s->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      s->push_back(static_cast<char>(0xE0 | (c >> 12)));
      s->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      s->push_back(static_cast<char>(0xF0 | (c >> 18)));
      s->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      s->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }

  const EntryBytes& file_;
  std::uint64_t size_;
  std::uint64_t at_ = 0;
};

}  // namespace

std::optional<WebKitRecordHead> ReadWebKitRecord(const EntryBytes& file) {
  WebKitDecoder d(file);
  WebKitRecordHead head;
  std::optional<std::string> partition, type, identifier;
  if (!d.U32(&head.version) || head.version == 0 || head.version > 1000) return std::nullopt;
  if (!d.String(&partition) || !d.String(&type) || !d.String(&identifier) || !d.String(&head.range))
    return std::nullopt;
  if (!partition || !type || !identifier || type->empty() || identifier->empty()) return std::nullopt;
  head.partition = std::move(*partition);
  head.type = std::move(*type);
  head.identifier = std::move(*identifier);
  if (!d.Digest(&head.hash) || !d.Digest(&head.partition_hash)) return std::nullopt;
  std::uint64_t header_size = 0;
  // Time stamp (a double) and the header's hash, then its size.
  if (!d.Skip(8 + 20) || !d.U64(&header_size)) return std::nullopt;
  if (!d.Digest(&head.body_hash) || !d.U64(&head.body_size) || !d.Bool(&head.body_inline))
    return std::nullopt;
  if (!d.Skip(20)) return std::nullopt;  // the metadata's checksum
  // The header must be there, and an inline body must fill the rest exactly.
  const std::uint64_t rest = d.Size() - d.Offset();
  if (header_size > rest) return std::nullopt;
  if (head.body_inline && head.body_size != rest - header_size) return std::nullopt;
  return head;
}

bool WebKitKeyMatchesSalt(const WebKitRecordHead& record, std::string_view salt) {
  if (salt.size() != 8) return false;
  const std::string* parts[] = {&record.partition, &record.type, &record.identifier,
                                record.range ? &*record.range : nullptr};
  const auto hashes_to_key = [&](bool terminated) {
    std::string data(salt);
    for (const std::string* part : parts) {
      if (!part) continue;
      data += *part;
      if (terminated) data.push_back('\0');
    }
    const Sha1Digest d = Sha1(data);
    return std::equal(d.begin(), d.end(), record.hash.begin());
  };
  return hashes_to_key(false) || hashes_to_key(true);
}

std::string UpperHex(std::span<const unsigned char> bytes) { return Hex(bytes.data(), bytes.size(), kUpperHex); }

// ---- The cache --------------------------------------------------------------------------

namespace {

constexpr std::size_t kNameCapacity = 40;

// A file the listing read, in a form cheap to keep: the folder it lies in and its name
// without any stream suffix.
struct EntryRef {
  std::uint32_t folder = 0;
  std::uint32_t next = UINT32_MAX;  // the next entry of the same URL
  std::uint8_t name_length = 0;
  std::uint8_t companions = 0;  // Chromium: which of "_s" and "_1" the listing saw
  std::array<char, kNameCapacity> name{};
  std::string_view Name() const { return {name.data(), name_length}; }
};

struct EvictionMarker {
  bool everything = false;
  std::string context;  // signature of the evicted context's tags
  std::string origin;   // only entries of this origin, when set
  std::int64_t mtime_ms = 0;
};

struct CacheFolder {
  std::string path;
  BrowserFamily family = BrowserFamily::Chromium;
  int fd = -1;  // kept open so deletions land in the folder that was listed
  std::vector<EvictionMarker> markers;
  // WebKit: the version folder's number and salt, the partition folder's name, and the
  // blob store shared by the version's records.
  std::uint32_t version = 0;
  std::string salt;
  std::string partition;
  std::string blobs_path;
};

bool IsHex(std::string_view s, bool upper) {
  for (char c : s) {
    const bool digit = c >= '0' && c <= '9';
    const bool letter = upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f');
    if (!digit && !letter) return false;
  }
  return true;
}

bool IsChromiumEntryName(std::string_view name) {
  return name.size() == 18 && name.substr(16) == "_0" && IsHex(name.substr(0, 16), false);
}

bool IsFirefoxEntryName(std::string_view name) { return name.size() == 40 && IsHex(name, true); }

constexpr std::uint8_t kSparseCompanion = 1;  // "<h>_s"
constexpr std::uint8_t kStream2Companion = 2;  // "<h>_1"
constexpr std::uint8_t kBlobCompanion = 4;     // WebKit "<hash>-blob"

// The companion bit of a Chromium "<h>_s" or "<h>_1" name, or 0.
std::uint8_t ChromiumCompanionKind(std::string_view name) {
  if (name.size() != 18 || name[16] != '_' || !IsHex(name.substr(0, 16), false)) return 0;
  return name[17] == 's' ? kSparseCompanion : name[17] == '1' ? kStream2Companion : 0;
}

std::uint64_t HexValue(std::string_view hex) {
  std::uint64_t v = 0;
  for (char c : hex) v = (v << 4) | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  return v;
}

bool IsHttpUrl(std::string_view url) {
  return url.substr(0, 7) == "http://" || url.substr(0, 8) == "https://";
}

// The part of a key's tags that names its load context (origin attributes and the
// anonymous flag), in a form that compares equal for the same context.
std::string ContextSignature(const std::vector<std::string>& tags) {
  std::vector<std::string_view> parts;
  for (const std::string& t : tags)
    if (!t.empty() && (t[0] == 'O' || t[0] == 'a')) parts.push_back(t);
  std::sort(parts.begin(), parts.end());
  std::string sig;
  for (std::string_view p : parts) {
    sig.append(p);
    sig.push_back('\n');
  }
  return sig;
}

std::optional<std::string> DecodeBase64(std::string_view in) {
  std::string out;
  std::uint32_t acc = 0;
  int bits = 0;
  std::size_t pad = 0;
  for (char c : in) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') {
      ++pad;
      continue;
    } else
      return std::nullopt;
    if (pad) return std::nullopt;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  if (pad > 2) return std::nullopt;
  return out;
}

std::int64_t MtimeMs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

// Reads a context-eviction marker "ce_<base64 of the context's key prefix>" ('/' written
// as '-'). "*" evicts every context; a tab may follow the context with an origin.
std::optional<EvictionMarker> ParseEvictionMarker(std::string_view name, const struct stat& st) {
  if (name.substr(0, 3) != "ce_") return std::nullopt;
  std::string encoded(name.substr(3));
  std::replace(encoded.begin(), encoded.end(), '-', '/');
  std::optional<std::string> decoded = DecodeBase64(encoded);
  if (!decoded || decoded->empty()) return std::nullopt;
  EvictionMarker marker;
  marker.mtime_ms = MtimeMs(st);
  std::string context = *decoded;
  const std::size_t tab = context.find('\t');
  if (tab != std::string::npos) {
    marker.origin = context.substr(tab + 1);
    context.resize(tab);
  }
  if (context.empty()) return std::nullopt;
  if (context == "*") {
    marker.everything = true;
    return marker;
  }
  // The prefix may end in a URL tag or at a tag's closing comma; a missing closing comma
  // at the very end is tolerated.
  if (context.find(':') == std::string::npos) {
    if (context.back() != ',') context.push_back(',');
    context.push_back(':');
    context.append("x");
  }
  std::optional<FirefoxKey> key = ParseFirefoxKey(context);
  if (!key) return std::nullopt;
  marker.context = ContextSignature(key->tags);
  return marker;
}

bool UrlHasOrigin(std::string_view url, std::string_view origin) {
  if (url.substr(0, origin.size()) != origin) return false;
  return url.size() == origin.size() || url[origin.size()] == '/';
}

bool Evicted(const CacheFolder& folder, const FirefoxKey& key, std::int64_t mtime_ms) {
  if (folder.markers.empty()) return false;
  const std::string sig = ContextSignature(key.tags);
  for (const EvictionMarker& m : folder.markers) {
    if (!m.everything && m.context != sig) continue;
    if (!m.origin.empty() && !UrlHasOrigin(key.url, m.origin)) continue;
    if (mtime_ms <= m.mtime_ms) return true;
  }
  return false;
}

// An open entry file with one prefetched window, so a reader's small reads mostly cost
// no system call.
class FileEntryBytes final : public EntryBytes {
 public:
  FileEntryBytes(int fd, std::uint64_t size, bool window_at_end) : fd_(fd), size_(size) {
    const std::uint64_t want = std::min<std::uint64_t>(size, sizeof window_);
    window_at_ = window_at_end ? size - want : 0;
    const ssize_t got = pread(fd_, window_, want, static_cast<off_t>(window_at_));
    window_len_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::span<char> out) const override {
    if (offset > size_ || out.size() > size_ - offset) return false;
    if (offset >= window_at_ && offset + out.size() <= window_at_ + window_len_) {
      std::memcpy(out.data(), window_ + (offset - window_at_), out.size());
      return true;
    }
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got = pread(fd_, out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
  std::uint64_t window_at_ = 0;
  std::size_t window_len_ = 0;
  char window_[4096];
};

bool RegularFileSize(int fd, struct stat* st) { return fstat(fd, st) == 0 && S_ISREG(st->st_mode); }

}  // namespace

std::optional<ChromiumEntryHead> ReadChromiumEntryFile(int fd) {
  struct stat st;
  if (!RegularFileSize(fd, &st)) return std::nullopt;
  return ReadChromiumEntry(FileEntryBytes(fd, static_cast<std::uint64_t>(st.st_size), false));
}

std::optional<WebKitRecordHead> ReadWebKitRecordFile(int fd) {
  struct stat st;
  if (!RegularFileSize(fd, &st)) return std::nullopt;
  return ReadWebKitRecord(FileEntryBytes(fd, static_cast<std::uint64_t>(st.st_size), false));
}

std::optional<FirefoxEntryHead> ReadFirefoxEntryFile(int fd) {
  struct stat st;
  if (!RegularFileSize(fd, &st)) return std::nullopt;
  return ReadFirefoxEntry(FileEntryBytes(fd, static_cast<std::uint64_t>(st.st_size), true));
}

namespace {

struct Job {
  std::uint32_t folder;
  std::string name;
  std::uint8_t companions = 0;
};

struct JobResult {
  bool ok = false;
  std::uint32_t type = 0;
  std::string url;
};

JobResult ReadEntry(const CacheFolder& folder, const std::string& name) {
  JobResult r;
  const int fd = openat(folder.fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return r;
  struct stat st;
  if (!RegularFileSize(fd, &st)) {
    close(fd);
    return r;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (folder.family == BrowserFamily::Chromium) {
    FileEntryBytes bytes(fd, size, false);
    std::optional<ChromiumEntryHead> head = ReadChromiumEntry(bytes);
    close(fd);
    if (!head || ChromiumEntryHash(head->key) != std::string_view(name).substr(0, 16)) return r;
    std::optional<std::string> url = ChromiumKeyUrl(head->key);
    if (!url) return r;
    r.ok = true;
    r.type = IsHttpUrl(*url) ? kNormalCacheEntry : 0;
    r.url = std::move(*url);
    return r;
  }
  if (folder.family == BrowserFamily::WebKit) {
    FileEntryBytes bytes(fd, size, false);
    std::optional<WebKitRecordHead> head = ReadWebKitRecord(bytes);
    close(fd);
    // The browser's own record: its version, type, file and folder names and the key's
    // hash under this cache's salt all agree.
    const auto names = [](const std::array<unsigned char, 20>& hash, std::string_view hex) {
      if (hex.size() != 40) return false;
      for (std::size_t i = 0; i < 20; ++i)
        if (hex[2 * i] != kUpperHex[hash[i] >> 4] || hex[2 * i + 1] != kUpperHex[hash[i] & 15]) return false;
      return true;
    };
    if (!head || head->version != folder.version || head->type != "Resource" || !names(head->hash, name) ||
        !names(head->partition_hash, folder.partition) || !WebKitKeyMatchesSalt(*head, folder.salt) ||
        !IsPlausibleUrl(head->identifier))
      return r;
    r.ok = true;
    r.type = IsHttpUrl(head->identifier) ? kNormalCacheEntry : 0;
    r.url = std::move(head->identifier);
    return r;
  }
  FileEntryBytes bytes(fd, size, true);
  std::optional<FirefoxEntryHead> head = ReadFirefoxEntry(bytes);
  close(fd);
  if (!head || FirefoxEntryHash(head->key) != name) return r;
  std::optional<FirefoxKey> key = ParseFirefoxKey(head->key);
  if (!key) return r;
  r.ok = true;
  r.type = IsHttpUrl(key->url) && !Evicted(folder, *key, MtimeMs(st)) ? kNormalCacheEntry : 0;
  r.url = std::move(key->url);
  return r;
}

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf)) return buf;
  return path;
}

// Below this many files one thread does the reading.
constexpr std::size_t kParallelThreshold = 512;

}  // namespace

struct UrlCache::Impl {
  bool fixed_profiles = false;
  std::vector<BrowserProfile> profiles;
  std::vector<CacheFolder> folders;
  std::vector<EntryRef> refs;
  struct Chain {
    std::uint32_t first;
    std::uint32_t last;
  };
  std::unordered_map<std::string, Chain> index;  // URL -> its refs in listing order
  bool listed = false;
  UrlCacheStats stats;

  ~Impl() { CloseFolders(); }

  void CloseFolders() {
    for (CacheFolder& f : folders)
      if (f.fd >= 0) close(f.fd);
    folders.clear();
  }

  // Opens the folders to scan and returns the entry files of each, sorted by name.
  std::vector<Job> CollectJobs(const std::vector<BrowserProfile>& list) {
    std::vector<Job> jobs;
    std::set<std::string> seen;
    for (const BrowserProfile& p : list) {
      if (p.cache_dir.empty()) continue;
      if (p.family == BrowserFamily::WebKit) {
        for (CacheFolder& folder : WebKitFolders(p.cache_dir)) ScanFolder(std::move(folder), seen, &jobs);
        continue;
      }
      CacheFolder folder;
      // Firefox keeps live entries in entries/; doomed/ and trash*/ are on their way out.
      folder.path = p.family == BrowserFamily::Chromium ? p.cache_dir : p.cache_dir + "/entries";
      folder.family = p.family;
      if (p.family == BrowserFamily::Firefox) ReadMarkers(p.cache_dir, &folder);
      ScanFolder(std::move(folder), seen, &jobs);
    }
    return jobs;
  }

  // The record folders of a WebKit network cache, in name order:
  // "Version <n>/Records/<partition hash>/Resource", each with its version's salt. Other
  // record types (SubResources, LinkPreload) are the browser's notes, not cached responses.
  static std::vector<CacheFolder> WebKitFolders(const std::string& cache_dir) {
    std::vector<CacheFolder> found;
    std::vector<std::string> versions = SortedNames(cache_dir, DT_DIR);
    for (const std::string& version_name : versions) {
      constexpr std::string_view kPrefix = "Version ";
      const std::string_view number = std::string_view(version_name).substr(kPrefix.size());
      if (version_name.compare(0, kPrefix.size(), kPrefix) != 0 || number.empty() || number.size() > 4 ||
          !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      const std::string version_dir = cache_dir + "/" + version_name;
      std::string salt = ReadSalt(version_dir + "/salt");
      if (salt.size() != 8) continue;  // WebKit itself would start this version afresh
      for (const std::string& partition : SortedNames(version_dir + "/Records", DT_DIR)) {
        if (!IsFirefoxEntryName(partition)) continue;  // 40 uppercase hex digits
        CacheFolder folder;
        folder.path = version_dir + "/Records/" + partition + "/Resource";
        folder.family = BrowserFamily::WebKit;
        folder.version = static_cast<std::uint32_t>(std::strtoul(std::string(number).c_str(), nullptr, 10));
        folder.salt = salt;
        folder.partition = partition;
        folder.blobs_path = version_dir + "/Blobs";
        found.push_back(std::move(folder));
      }
    }
    return found;
  }

  static std::string ReadSalt(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {};
    struct stat st;
    char salt[9];
    const ssize_t got = RegularFileSize(fd, &st) && st.st_size == 8 ? pread(fd, salt, sizeof salt, 0) : -1;
    close(fd);
    return got == 8 ? std::string(salt, 8) : std::string();
  }

  // The names of a folder's entries of one type, sorted.
  static std::vector<std::string> SortedNames(const std::string& path, unsigned char type) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      unsigned char t = e->d_type;
      if (t == DT_UNKNOWN) {
        struct stat st;
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        t = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      if (t == type) names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Opens one folder, keeps it, and adds its entry files to `jobs` in name order.
  void ScanFolder(CacheFolder folder, std::set<std::string>& seen, std::vector<Job>* jobs_out) {
    std::vector<Job>& jobs = *jobs_out;
    if (!seen.insert(Canonical(folder.path)).second) return;
    const int fd = open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    folder.fd = fd;
    const BrowserFamily family = folder.family;
    const auto index_of_folder = static_cast<std::uint32_t>(folders.size());
    folders.push_back(std::move(folder));

    const int dup_fd = dup(fd);
    DIR* dir = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
    if (!dir) {
      if (dup_fd >= 0) close(dup_fd);
      return;
    }
    const std::size_t first = jobs.size();
    std::unordered_map<std::uint64_t, std::uint8_t> companions;
    std::unordered_set<std::string> blobs;
    while (dirent* e = readdir(dir)) {
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
      const std::string_view name = e->d_name;
      if (family == BrowserFamily::Chromium) {
        if (const std::uint8_t kind = ChromiumCompanionKind(name)) {
          companions[HexValue(name.substr(0, 16))] |= kind;
          continue;
        }
        if (!IsChromiumEntryName(name)) continue;
      } else if (family == BrowserFamily::WebKit && name.size() == 45 && name.substr(40) == "-blob") {
        blobs.emplace(name.substr(0, 40));
        continue;
      } else if (!IsFirefoxEntryName(name)) {
        continue;
      }
      jobs.push_back({index_of_folder, std::string(name)});
    }
    closedir(dir);
    for (std::size_t j = first; j < jobs.size() && !(companions.empty() && blobs.empty()); ++j) {
      if (family == BrowserFamily::WebKit) {
        if (blobs.count(jobs[j].name)) jobs[j].companions = kBlobCompanion;
        continue;
      }
      const auto it = companions.find(HexValue(std::string_view(jobs[j].name).substr(0, 16)));
      if (it != companions.end()) jobs[j].companions = it->second;
    }
    std::sort(jobs.begin() + static_cast<std::ptrdiff_t>(first), jobs.end(),
              [](const Job& a, const Job& b) { return a.name < b.name; });
  }

  static void ReadMarkers(const std::string& cache2, CacheFolder* folder) {
    DIR* dir = opendir(cache2.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
      const std::string_view name = e->d_name;
      if (name.substr(0, 3) != "ce_") continue;
      struct stat st;
      if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      if (std::optional<EvictionMarker> m = ParseEvictionMarker(name, st))
        folder->markers.push_back(std::move(*m));
    }
    closedir(dir);
  }

  std::vector<UrlCacheEntry> List() {
    CloseFolders();
    refs.clear();
    index.clear();
    stats = {};
    listed = true;
    if (!fixed_profiles) profiles = FindBrowserProfiles();
    const std::vector<Job> jobs = CollectJobs(profiles);
    stats.cache_folders = folders.size();

    std::vector<JobResult> results(jobs.size());
    auto work = [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) results[i] = ReadEntry(folders[jobs[i].folder], jobs[i].name);
    };
    const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    if (jobs.size() < kParallelThreshold || cores == 1) {
      work(0, jobs.size());
    } else {
      // The reads are independent; a shared counter hands out small batches.
      std::atomic<std::size_t> next{0};
      constexpr std::size_t kBatch = 64;
      auto worker = [&] {
        for (std::size_t b; (b = next.fetch_add(kBatch)) < jobs.size();)
          work(b, std::min(jobs.size(), b + kBatch));
      };
      std::vector<std::thread> threads;
      for (unsigned t = 1; t < cores; ++t) threads.emplace_back(worker);
      worker();
      for (std::thread& t : threads) t.join();
    }

    std::vector<UrlCacheEntry> listing;
    listing.reserve(jobs.size());
    refs.reserve(jobs.size());
    index.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      JobResult& r = results[i];
      if (!r.ok) {
        ++stats.skipped_files;
        continue;
      }
      EntryRef ref;
      ref.folder = jobs[i].folder;
      const std::string_view name = folders[ref.folder].family == BrowserFamily::Chromium
                                        ? std::string_view(jobs[i].name).substr(0, 16)
                                        : std::string_view(jobs[i].name);
      ref.name_length = static_cast<std::uint8_t>(name.size());
      ref.companions = jobs[i].companions;
      std::memcpy(ref.name.data(), name.data(), name.size());
      const auto ref_index = static_cast<std::uint32_t>(refs.size());
      auto [it, inserted] = index.try_emplace(r.url, Chain{ref_index, ref_index});
      if (!inserted) {
        refs[it->second.last].next = ref_index;
        it->second.last = ref_index;
      }
      refs.push_back(ref);
      listing.push_back({std::move(r.url), r.type});
    }
    stats.entries = listing.size();
    return listing;
  }

  // Removes one entry's files; false when one could not be removed. Companions the
  // listing did not see are tried only with `every_companion`.
  // A WebKit record's body blob is a hard link into the version's blob store; the store's
  // file of a body no other record links is added to `orphans`, for SweepBlobs.
  bool RemoveEntry(const EntryRef& ref, bool every_companion, std::vector<ino_t>* orphans) const {
    const CacheFolder& folder = folders[ref.folder];
    char name[kNameCapacity + 6];
    std::memcpy(name, ref.name.data(), ref.name_length);
    if (folder.family == BrowserFamily::WebKit) {
      name[ref.name_length] = '\0';
      bool all = unlinkat(folder.fd, name, 0) == 0;
      if (!every_companion && !(ref.companions & kBlobCompanion)) return all;
      std::memcpy(name + ref.name_length, "-blob", 6);
      struct stat st;
      if (fstatat(folder.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return all && errno == ENOENT;
      if (!S_ISREG(st.st_mode)) return all;  // not WebKit's: left alone
      if (unlinkat(folder.fd, name, 0) != 0) return errno == ENOENT && all;
      if (st.st_nlink == 2 && orphans) orphans->push_back(st.st_ino);
      return all;
    }
    if (folder.family != BrowserFamily::Chromium) {
      name[ref.name_length] = '\0';
      return unlinkat(folder.fd, name, 0) == 0;
    }
    // The stream file first: without it the entry is gone for the browser, even if a
    // companion then fails.
    bool all = true;
    name[ref.name_length] = '_';
    name[ref.name_length + 2] = '\0';
    name[ref.name_length + 1] = '0';
    if (unlinkat(folder.fd, name, 0) != 0) all = false;
    for (const auto& [suffix, bit] : {std::pair{'s', kSparseCompanion}, std::pair{'1', kStream2Companion}}) {
      if (!every_companion && !(ref.companions & bit)) continue;
      name[ref.name_length + 1] = suffix;
      if (unlinkat(folder.fd, name, 0) != 0 && errno != ENOENT) all = false;
    }
    return all;
  }

  // The blob-store files whose last record link was just removed: WebKit drops them at its
  // next start; the body goes with its record now. A file is removed only when it is the one
  // that was linked and nothing links it any more.
  static void SweepBlobs(const CacheFolder& folder, const std::vector<ino_t>& orphans) {
    if (orphans.empty() || folder.blobs_path.empty()) return;
    const std::unordered_set<ino_t> wanted(orphans.begin(), orphans.end());
    DIR* dir = opendir(folder.blobs_path.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
      if (!wanted.count(e->d_ino)) continue;
      struct stat st;
      if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISREG(st.st_mode) && st.st_nlink == 1 && wanted.count(st.st_ino)) unlinkat(dirfd(dir), e->d_name, 0);
    }
    closedir(dir);
  }

  // Companions that appeared after the listing, of entries just removed: one pass over the
  // folder instead of a failing unlink per entry.
  void SweepCompanions(const CacheFolder& folder, const std::unordered_set<std::uint64_t>& removed) const {
    const int dup_fd = dup(folder.fd);
    DIR* dir = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
    if (!dir) {
      if (dup_fd >= 0) close(dup_fd);
      return;
    }
    rewinddir(dir);
    while (dirent* e = readdir(dir)) {
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
      const std::string_view name = e->d_name;
      if (ChromiumCompanionKind(name) && removed.count(HexValue(name.substr(0, 16))))
        unlinkat(folder.fd, e->d_name, 0);
    }
    closedir(dir);
  }

  bool Delete(const std::string& url) {
    if (!listed) List();
    const auto it = index.find(url);
    if (it == index.end()) return false;
    bool all = true;
    std::vector<std::vector<ino_t>> orphans(folders.size());
    for (std::uint32_t r = it->second.first; r != UINT32_MAX; r = refs[r].next)
      all &= RemoveEntry(refs[r], true, &orphans[refs[r].folder]);
    for (std::size_t f = 0; f < folders.size(); ++f) SweepBlobs(folders[f], orphans[f]);
    index.erase(it);
    return all;
  }

  std::size_t DeleteAll(const std::vector<std::string>& urls) {
    if (!listed) List();
    // Which entries each URL stands for, grouped by folder: unlinks in one folder queue
    // on its lock, those in different folders do not.
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> by_folder(folders.size());
    std::vector<char> url_ok(urls.size(), 0);
    for (std::size_t u = 0; u < urls.size(); ++u) {
      const auto it = index.find(urls[u]);
      if (it == index.end()) continue;
      url_ok[u] = 1;
      for (std::uint32_t r = it->second.first; r != UINT32_MAX; r = refs[r].next)
        by_folder[refs[r].folder].push_back({r, static_cast<std::uint32_t>(u)});
      index.erase(it);
    }
    std::vector<std::vector<std::uint32_t>> failed(folders.size());
    auto work = [&](std::size_t f) {
      if (by_folder[f].empty()) return;
      std::vector<ino_t> orphans;
      for (const auto& [r, u] : by_folder[f])
        if (!RemoveEntry(refs[r], false, &orphans)) failed[f].push_back(u);
      SweepBlobs(folders[f], orphans);
      if (folders[f].family != BrowserFamily::Chromium) return;
      std::unordered_set<std::uint64_t> removed;
      removed.reserve(by_folder[f].size());
      for (const auto& [r, u] : by_folder[f]) removed.insert(HexValue(refs[r].Name()));
      SweepCompanions(folders[f], removed);
    };
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
      for (std::size_t f; (f = next.fetch_add(1)) < by_folder.size();) work(f);
    };
    std::size_t busy = 0;
    for (const auto& v : by_folder) busy += v.empty() ? 0 : 1;
    const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    if (busy > 1 && cores > 1) {
      std::thread helper(worker);
      worker();
      helper.join();
    } else {
      worker();
    }
    for (const auto& v : failed)
      for (std::uint32_t u : v) url_ok[u] = 0;
    return static_cast<std::size_t>(std::count(url_ok.begin(), url_ok.end(), 1));
  }
};

UrlCache::UrlCache() : impl_(std::make_unique<Impl>()) {}

UrlCache::UrlCache(std::vector<BrowserProfile> profiles) : impl_(std::make_unique<Impl>()) {
  impl_->fixed_profiles = true;
  impl_->profiles = std::move(profiles);
}

UrlCache::~UrlCache() = default;

std::vector<UrlCacheEntry> UrlCache::List() { return impl_->List(); }

bool UrlCache::Delete(const std::string& source_url) { return impl_->Delete(source_url); }

std::size_t UrlCache::DeleteAll(const std::vector<std::string>& source_urls) {
  return impl_->DeleteAll(source_urls);
}

const UrlCacheStats& UrlCache::LastStats() const { return impl_->stats; }

namespace {

std::mutex& ProcessCacheMutex() {
  static std::mutex m;
  return m;
}

UrlCache& ProcessCache() {
  static UrlCache cache;
  return cache;
}

}  // namespace

std::vector<UrlCacheEntry> ListUrlCacheEntries() {
  std::lock_guard<std::mutex> lock(ProcessCacheMutex());
  return ProcessCache().List();
}

std::size_t DeleteUrlCacheEntries(const std::vector<std::string>& source_urls) {
  std::lock_guard<std::mutex> lock(ProcessCacheMutex());
  return ProcessCache().DeleteAll(source_urls);
}

}  // namespace tidrex::platform
