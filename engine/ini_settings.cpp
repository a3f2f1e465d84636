#include "engine/ini_settings.h"

#include "platform/locations.h"
#include "platform/private_profile.h"

namespace tidrex::engine {
namespace {

// The reader's buffer holds 255 characters with the terminating NUL: 254 come back.
constexpr std::size_t kReadCapacity = kLongestIniValue + 1;
constexpr std::size_t kWhole = static_cast<std::size_t>(-1);
constexpr std::size_t kLastListIndex = 1000;

}  // namespace

std::string ConfigFilePath() { return platform::ConfigurationFolder() + "Clean.ini"; }

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) {
  return platform::GetProfileString(file, section, key, fallback, kReadCapacity);
}

std::string ReadIniValueWhole(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& fallback) {
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
}

std::string ListKey(std::size_t index) { return "sFile" + std::to_string(index); }

namespace {

std::vector<std::string> ReadList(const std::string& file, const std::string& section, std::size_t capacity) {
  std::vector<std::string> keys;
  keys.reserve(kLastListIndex + 1);
  for (std::size_t i = 0; i <= kLastListIndex; ++i) keys.push_back(ListKey(i));
  // One reading of the file answers all 1,001 keys exactly as 1,001 single reads would.
  std::vector<std::string> values = platform::GetProfileStrings(file, section, keys, "0", capacity);
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
