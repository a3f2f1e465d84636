#include "engine/internet_keep_list.h"

#include "engine/ini_settings.h"
#include "engine/switches.h"
#include "platform/private_profile.h"

namespace tidrex::engine {

// A kept URL is matched whole: cut, it would match nothing and its entries would go.
std::vector<std::string> LoadInternetKeepList() { return ReadIniListWhole(ConfigFilePath(), "Internet"); }

void SaveInternetKeepList(const std::vector<std::string>& entries) {
  const std::string file = ConfigFilePath();
  // One reading under the writers' lock: a change another process makes meanwhile is neither
  // read stale nor carried away by the rebuild.
  const IniOperation update(file, IniOperation::kForUpdate);
  // What the rebuilt file carries over; a missing key reads "0" and is written back as "0".
  // Values are carried over whole: a cut one written back would be lost for good.
  const std::string user_folder = ReadIniValueWhole(file, "User", "sFile0", "0");
  const Switches switches = ReadSwitches();
  const std::vector<std::string> cookies = ReadIniListWhole(file, "Cookies");

  std::vector<platform::ProfileWrite> writes;
  writes.reserve(4 + entries.size() + cookies.size());
  auto write = [&writes](const char* section, std::string key, const std::string& value) {
    writes.push_back({section, std::move(key), SanitizeIniValue(value)});
  };
  write("User", "sFile0", user_folder);
  write(kSwitchSection, kTempSwitch, switches.temp);
  write(kSwitchSection, kInternetSwitch, switches.internet);
  write(kSwitchSection, kUserSwitch, switches.user);
  for (std::size_t i = 0; i < entries.size(); ++i) write("Internet", ListKey(i), entries[i]);
  for (std::size_t i = 0; i < cookies.size(); ++i) write("Cookies", ListKey(i), cookies[i]);

  // The same writes as deleting the file and writing key by key, applied in one replace:
  // the file is always the complete old one or the complete new one.
  platform::WriteProfileStrings(file, writes, /*from_empty=*/true);
}

}  // namespace tidrex::engine
