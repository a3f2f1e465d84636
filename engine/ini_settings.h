// Module INISettings: every access to "Clean.ini".
#pragma once

#include <cstddef>
#include <memory>
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

// While it lives, every ReadIniValue and ReadIniList of `file` on this thread is answered
// from one reading of the file, taken at the first of them: an operation that needs several
// values in a row (a cleaning run, a page's load) reads the file once and sees one state of
// it. Between operations every read goes to the file afresh. A WriteIniValue of the file
// meanwhile is seen by the next read. kForUpdate also holds the writers' lock for the whole
// operation, so that what it reads and then writes back cannot interleave with another
// process's write.
class IniOperation {
 public:
  enum Mode { kRead, kForUpdate };
  explicit IniOperation(const std::string& file, Mode mode = kRead);
  ~IniOperation();
  IniOperation(const IniOperation&) = delete;
  IniOperation& operator=(const IniOperation&) = delete;

  struct Scope;

 private:
  std::unique_ptr<Scope> scope_;
};

}  // namespace tidrex::engine
