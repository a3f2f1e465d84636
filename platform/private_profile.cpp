#include "platform/private_profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/atomic_file.h"
#include "platform/small_file.h"

namespace tidrex::platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The Windows functions look names up without the blanks around them, as they read the
// names in the file.
std::string_view RequestedName(std::string_view s) {
  auto blank = [](char c) { return IsBlank(c) || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The Windows reader drops the trailing spaces of the default it is given.
std::string_view RequestedDefault(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Maps keyed by names that compare ignoring ASCII case, looked up without copying the name.
struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    size_t h = 14695981039346656037ull;
    for (char c : s) h = (h ^ static_cast<unsigned char>(LowerAscii(c))) * 1099511628211ull;
    return h;
  }
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};
template <class V>
using NameMap = std::unordered_map<std::string, V, CaseInsensitiveHash, CaseInsensitiveEqual>;

// One line of the file as a person editing it sees it.
struct Parsed {
  enum Kind { kBlank, kComment, kSection, kKey } kind = kBlank;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // trimmed; only for keys with "="
  bool has_value = false;
};

Parsed Classify(std::string_view line) {
  Parsed p;
  std::string_view t = Trim(line);
  if (t.empty()) return p;
  if (t.front() == ';') {
    p.kind = Parsed::kComment;
    return p;
  }
  // A "[" without a "]" opens no section: the line is read like any other.
  if (t.front() == '[' && t.find(']') != std::string_view::npos) {
    p.kind = Parsed::kSection;
    std::string_view inner = t.substr(1);
    p.name = Trim(inner.substr(0, inner.rfind(']')));
    return p;
  }
  p.kind = Parsed::kKey;
  auto eq = t.find('=');
  if (eq == std::string_view::npos) {
    p.name = t;
    return p;
  }
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  p.has_value = true;
  return p;
}

// The position of the next `c` at or after `from`, or the text's size.
size_t Find(std::string_view text, char c, size_t from) {
  const void* p = std::memchr(text.data() + from, c, text.size() - from);
  return p ? static_cast<size_t>(static_cast<const char*>(p) - text.data()) : text.size();
}

// Splits at LF, CRLF and CR. Calls f(text, eol) for every line, the last one possibly
// without an end; stops early when f returns false.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  size_t pos = 0;
  const size_t size = text.size();
  size_t next_lf = Find(text, '\n', 0), next_cr = Find(text, '\r', 0);
  while (pos < size) {
    // Two vectorised searches beat one search for either character, which goes byte by
    // byte; each found position is kept until passed, so a file of only CRs or only LFs is
    // still read once.
    if (next_lf < pos) next_lf = Find(text, '\n', pos);
    if (next_cr < pos) next_cr = Find(text, '\r', pos);
    size_t end = std::min(next_lf, next_cr);
    if (end == size) {
      f(text.substr(pos), std::string_view());
      return;
    }
    size_t eol_len = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    if (!f(text.substr(pos, end - pos), text.substr(end, eol_len))) return;
    pos = end + eol_len;
  }
}

std::string_view WithoutBom(std::string_view line, bool first) {
  if (first && line.substr(0, kBom.size()) == kBom) line.remove_prefix(kBom.size());
  return line;
}

std::string CopyEntry(std::string_view value, size_t capacity) {
  // The Windows reader drops one matching pair of quotes around a value.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  // Values travel as C strings: a NUL ends them.
  if (auto nul = value.find('\0'); nul != std::string_view::npos) value = value.substr(0, nul);
  size_t room = capacity == 0 ? 0 : capacity - 1;
  return std::string(value.substr(0, room));
}

// The file as lines grouped by section, with indexes of the first section of each name and
// the first key of each name inside it, as the Windows functions find them.
class Document {
 public:
  explicit Document(std::string_view text) {
    sections_.push_back({});  // lines before the first section header
    bool first = true;
    ForEachLine(text, [&](std::string_view line, std::string_view eol) {
      Parsed p = Classify(WithoutBom(line, first));
      first = false;
      // Lines this writer adds end the way the file's lines do: CRLF in a file from Windows.
      if (eol_.empty()) eol_ = std::string(eol);
      if (p.kind == Parsed::kSection) {
        sections_.push_back({});
        first_section_.emplace(std::string(p.name), sections_.size() - 1);
      } else if (p.kind == Parsed::kKey && sections_.size() > 1) {
        sections_.back().keys.emplace(std::string(p.name), sections_.back().lines.size());
      }
      sections_.back().lines.push_back({std::string(line), std::string(eol)});
      return true;
    });
    if (eol_.empty()) eol_.push_back('\n');
  }

  void Write(std::string_view section_name, std::string_view key_name, const std::string& value) {
    const std::string section(RequestedName(section_name));
    const std::string key(RequestedName(key_name));
    auto found = first_section_.find(std::string_view(section));
    size_t s;
    if (found == first_section_.end()) {
      s = AppendSection(section);
    } else {
      s = found->second;
    }
    Section& sec = sections_[s];
    auto k = sec.keys.find(std::string_view(key));
    if (k != sec.keys.end()) {
      Line& line = sec.lines[k->second];
      // The existing key keeps its spelling and its place.
      // A key line is never the file's first line (a section header comes before it).
      Parsed p = Classify(line.text);
      // Writing the value a key has already changes nothing, not even the line's spacing.
      if (p.has_value && p.value == value) return;
      line.text = std::string(p.name) + "=" + value;
      return;
    }
    size_t pos = sec.lines.size();
    while (pos > 1 && Trim(sec.lines[pos - 1].text).empty()) --pos;
    EnsureLineEnd(s, pos - 1);
    sec.lines.insert(sec.lines.begin() + static_cast<std::ptrdiff_t>(pos), {key + "=" + value, eol_});
    if (pos + 1 < sec.lines.size())
      for (auto& [name, index] : sec.keys)
        if (index >= pos) ++index;
    sec.keys.emplace(key, pos);
  }

  std::string Text() const {
    std::string out;
    size_t total = 0;
    for (const auto& sec : sections_)
      for (const auto& l : sec.lines) total += l.text.size() + l.eol.size();
    out.reserve(total);
    for (const auto& sec : sections_)
      for (const auto& l : sec.lines) {
        out += l.text;
        out += l.eol;
      }
    return out;
  }

 private:
  struct Line {
    std::string text;
    std::string eol;
  };
  struct Section {
    std::vector<Line> lines;  // the header first, except in the leading block
    NameMap<size_t> keys;
  };

  // Only the file's last line can lack its end; a line written after it needs one.
  void EnsureLineEnd(size_t s, size_t line) {
    Line& l = sections_[s].lines[line];
    if (l.eol.empty()) l.eol = eol_;
  }

  Line* LastLine() {
    for (size_t i = sections_.size(); i-- > 0;)
      if (!sections_[i].lines.empty()) return &sections_[i].lines.back();
    return nullptr;
  }

  // A new section follows the file's last line directly, with no blank line before it.
  size_t AppendSection(const std::string& name) {
    if (Line* last = LastLine(); last && last->eol.empty()) last->eol = eol_;
    sections_.push_back({});
    Section& sec = sections_.back();
    sec.lines.push_back({"[" + name + "]", eol_});
    first_section_.emplace(name, sections_.size() - 1);
    return sections_.size() - 1;
  }

  std::vector<Section> sections_;
  NameMap<size_t> first_section_;
  std::string eol_;  // the file's first line end, LF for a file without any
};

}  // namespace

std::string ReadProfileText(const std::string& text, const std::string& section_name,
                            const std::string& key_name, const std::string& fallback,
                            size_t capacity) {
  const std::string_view section = RequestedName(section_name), key = RequestedName(key_name);
  enum { kBefore, kInside, kDone } state = kBefore;
  std::string result = CopyEntry(RequestedDefault(fallback), capacity);
  bool first = true;
  ForEachLine(text, [&](std::string_view line, std::string_view) {
    Parsed p = Classify(WithoutBom(line, first));
    first = false;
    if (p.kind == Parsed::kSection) {
      if (state == kInside) {
        state = kDone;  // only the first section of a name counts
        return false;
      }
      if (EqualsIgnoringCase(p.name, section)) state = kInside;
      return true;
    }
    if (state == kInside && p.kind == Parsed::kKey && EqualsIgnoringCase(p.name, key)) {
      // A key line without "=" is a key without value: the reader gives the default.
      if (p.has_value) result = CopyEntry(p.value, capacity);
      state = kDone;
      return false;
    }
    return true;
  });
  return result;
}

std::vector<std::string> ReadProfileTexts(const std::string& text, const std::string& section_name,
                                          const std::vector<std::string>& keys,
                                          const std::string& fallback, size_t capacity) {
  const std::string_view section = RequestedName(section_name);
  // Index the first section of that name once instead of scanning the file per key.
  // The first line of each key name; without "=" it holds no value and gives the default.
  NameMap<std::optional<std::string>> first_value;
  enum { kBefore, kInside } state = kBefore;
  bool first = true;
  ForEachLine(text, [&](std::string_view line, std::string_view) {
    Parsed p = Classify(WithoutBom(line, first));
    first = false;
    if (p.kind == Parsed::kSection) {
      if (state == kInside) return false;
      if (EqualsIgnoringCase(p.name, section)) state = kInside;
      return true;
    }
    if (state == kInside && p.kind == Parsed::kKey) {
      if (first_value.find(p.name) == first_value.end())
        first_value.emplace(std::string(p.name),
                            p.has_value ? std::optional<std::string>(CopyEntry(p.value, capacity)) : std::nullopt);
    }
    return true;
  });
  const std::string fallback_entry = CopyEntry(RequestedDefault(fallback), capacity);
  std::vector<std::string> out;
  out.reserve(keys.size());
  for (const auto& k : keys) {
    auto it = first_value.find(RequestedName(k));
    out.push_back(it != first_value.end() && it->second ? *it->second : fallback_entry);
  }
  return out;
}

ProfileSnapshot::ProfileSnapshot(const std::string& file)
    : readable_(ReadSmallFile(file, text_) == SmallFileRead::kRead) {}

std::string ProfileSnapshot::GetString(const std::string& section, const std::string& key,
                                       const std::string& fallback, size_t capacity) const {
  if (!readable_) return CopyEntry(RequestedDefault(fallback), capacity);
  return ReadProfileText(text_, section, key, fallback, capacity);
}

std::vector<std::string> ProfileSnapshot::GetStrings(const std::string& section,
                                                     const std::vector<std::string>& keys,
                                                     const std::string& fallback, size_t capacity) const {
  if (!readable_) return std::vector<std::string>(keys.size(), CopyEntry(RequestedDefault(fallback), capacity));
  return ReadProfileTexts(text_, section, keys, fallback, capacity);
}

std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& fallback,
                             size_t capacity) {
  return ProfileSnapshot(file).GetString(section, key, fallback, capacity);
}

std::vector<std::string> GetProfileStrings(const std::string& file, const std::string& section,
                                           const std::vector<std::string>& keys,
                                           const std::string& fallback, size_t capacity) {
  return ProfileSnapshot(file).GetStrings(section, keys, fallback, capacity);
}

std::string ApplyProfileWrites(const std::string& text, const std::vector<ProfileWrite>& writes) {
  Document doc(text);
  for (const auto& w : writes) doc.Write(w.section, w.key, w.value);
  return doc.Text();
}

bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value) {
  return WriteProfileStrings(file, {{section, key, value}});
}

bool WriteProfileStrings(const std::string& file, const std::vector<ProfileWrite>& writes,
                         bool from_empty) {
  // Read, change and replace under the lock, or another process's write made in between
  // would be carried away by this one's rename.
  const UpdateLock lock(file);
  if (!lock.Held()) return false;
  std::string text;
  const SmallFileRead state = ReadSmallFile(file, text);
  // A file that cannot be read is not an empty one: writing would destroy what it holds.
  if (state == SmallFileRead::kUnreadable) return false;
  const bool existed = state == SmallFileRead::kRead;
  // A file without any write permission is read-only: the write is lost, as on Windows.
  struct stat st {};
  if (existed && stat(file.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return false;
  std::string updated = ApplyProfileWrites(from_empty ? std::string() : text, writes);
  // Leaves the file, its inode and its times alone.
  if (existed && updated == text) return true;
  // A file this reader would refuse must never be written: it would lose every setting.
  if (updated.size() > kSmallFileCeiling) return false;
  return WriteFileAtomically(file, updated, 0666);
}

}  // namespace tidrex::platform
