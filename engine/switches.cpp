#include "engine/switches.h"

#include "engine/ini_settings.h"

namespace tidrex::engine {

Switches ReadSwitches() {
  const std::string file = ConfigFilePath();
  Switches s;
  s.user = ReadIniValue(file, kSwitchSection, kUserSwitch, "0");
  s.temp = ReadIniValue(file, kSwitchSection, kTempSwitch, "0");
  s.internet = ReadIniValue(file, kSwitchSection, kInternetSwitch, "0");
  return s;
}

}  // namespace tidrex::engine
