#include "engine/ini_settings.h"

#include <optional>

#include "platform/atomic_file.h"
#include "platform/locations.h"
#include "platform/private_profile.h"

namespace tidrex::engine {
namespace {

// The reader's buffer holds 255 characters with the terminating NUL: 254 come back.
constexpr std::size_t kReadCapacity = kLongestIniValue + 1;
constexpr std::size_t kWhole = static_cast<std::size_t>(-1);
constexpr std::size_t kLastListIndex = 1000;

}  // namespace

struct IniOperation::Scope {
  Scope(const std::string& f, Scope* o) : file(f), outer(o) {}
  std::string file;
  Scope* outer;
  std::optional<platform::UpdateLock> lock;
  std::optional<platform::ProfileSnapshot> snapshot;
};

namespace {

thread_local IniOperation::Scope* g_innermost = nullptr;

// The reading that answers reads of `file` now, or none outside every operation on it.
const platform::ProfileSnapshot* OperationReading(const std::string& file) {
  for (IniOperation::Scope* s = g_innermost; s; s = s->outer)
    if (s->file == file) {
      if (!s->snapshot) s->snapshot.emplace(file);
      return &*s->snapshot;
    }
  return nullptr;
}

void ForgetOperationReadings(const std::string& file) {
  for (IniOperation::Scope* s = g_innermost; s; s = s->outer)
    if (s->file == file) s->snapshot.reset();
}

}  // namespace

IniOperation::IniOperation(const std::string& file, Mode mode)
    : scope_(std::make_unique<Scope>(file, g_innermost)) {
  if (mode == kForUpdate) scope_->lock.emplace(file);
  g_innermost = scope_.get();
}

IniOperation::~IniOperation() {
  // Operations end in the reverse order of their start, being scoped objects on one thread.
  g_innermost = scope_->outer;
}

std::string ConfigFilePath() { return platform::ConfigurationFolder() + "Clean.ini"; }

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) {
  if (const platform::ProfileSnapshot* reading = OperationReading(file))
    return reading->GetString(section, key, fallback, kReadCapacity);
  return platform::GetProfileString(file, section, key, fallback, kReadCapacity);
}

std::string ReadIniValueWhole(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& fallback) {
  if (const platform::ProfileSnapshot* reading = OperationReading(file))
    return reading->GetString(section, key, fallback, kWhole);
  return platform::GetProfileString(file, section, key, fallback, kWhole);
}

std::string SanitizeIniValue(std::string value) {
  for (char& c : value)
    if (c == '\r' || c == '\n') c = ' ';
  return value;
}

void WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
  platform::WriteProfileString(file, section, key, SanitizeIniValue(value));
  ForgetOperationReadings(file);
}

std::string ListKey(std::size_t index) { return "sFile" + std::to_string(index); }

namespace {

std::vector<std::string> ReadList(const std::string& file, const std::string& section, std::size_t capacity) {
  std::vector<std::string> keys;
  keys.reserve(kLastListIndex + 1);
  for (std::size_t i = 0; i <= kLastListIndex; ++i) keys.push_back(ListKey(i));
  // One reading of the file answers all 1,001 keys exactly as 1,001 single reads would.
  const platform::ProfileSnapshot* reading = OperationReading(file);
  std::vector<std::string> values = reading ? reading->GetStrings(section, keys, "0", capacity)
                                            : platform::GetProfileStrings(file, section, keys, "0", capacity);
  std::vector<std::string> list;
  for (auto& v : values) {
    if (v.empty() || v == "0") break;
    list.push_back(std::move(v));
  }
  return list;
}

}  // namespace

std::vector<std::string> ReadIniList(const std::string& file, const std::string& section) {
  return ReadList(file, section, kReadCapacity);
}

std::vector<std::string> ReadIniListWhole(const std::string& file, const std::string& section) {
  return ReadList(file, section, kWhole);
}

}  // namespace tidrex::engine
