// Module INISettings: every access to "Clean.ini".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tidrex::engine {

// The configuration folder (platform::ConfigurationFolder) + "Clean.ini", afresh on every call.
std::string ConfigFilePath();

// The longest value a read carries; a longer one comes back cut.
inline constexpr std::size_t kLongestIniValue = 254;

// The value, at most 254 characters, or `fallback` when file, section or key is missing.
std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback = "0");

// Stores the value with every carriage return and line feed turned into a blank.
void WriteIniValue(const std::string& file, const std::string& section,
                   const std::string& key, const std::string& value);

// The value as stored, however long. For what a deletion acts on or a rewrite carries
// over, where a cut value would name something else.
std::string ReadIniValueWhole(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& fallback = "0");

// "sFile0" up to "sFile1000" in order, ending at the first "" or "0".
std::vector<std::string> ReadIniList(const std::string& file, const std::string& section);
// The same list with every value as stored, however long.
std::vector<std::string> ReadIniListWhole(const std::string& file, const std::string& section);

// The list key for an index: "sFile" + the decimal index.
std::string ListKey(std::size_t index);

// The value as WriteIniValue stores it.
std::string SanitizeIniValue(std::string value);

}  // namespace tidrex::engine
