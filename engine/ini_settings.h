// Module INISettings: every access to "Clean.ini".
#pragma once

#include <string>
#include <vector>

namespace tidrex::engine {

// The configuration folder (platform::ConfigurationFolder) + "Clean.ini", afresh on every call.
std::string ConfigFilePath();

// The value, at most 254 characters, or `fallback` when file, section or key is missing.
std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback = "0");

// Stores the value with every carriage return and line feed turned into a blank.
void WriteIniValue(const std::string& file, const std::string& section,
                   const std::string& key, const std::string& value);

// "sFile0" up to "sFile1000" in order, ending at the first "" or "0".
std::vector<std::string> ReadIniList(const std::string& file, const std::string& section);

// The list key for an index: "sFile" + the decimal index.
std::string ListKey(std::size_t index);

// The value as WriteIniValue stores it.
std::string SanitizeIniValue(std::string value);

}  // namespace tidrex::engine
