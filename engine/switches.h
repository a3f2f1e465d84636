// The three cleaning switches of "Clean.ini": one key per category in section "Delete".
#pragma once

#include <string>

namespace tidrex::engine {

inline constexpr const char* kSwitchSection = "Delete";
inline constexpr const char* kUserSwitch = "User";
inline constexpr const char* kTempSwitch = "Temp";
inline constexpr const char* kInternetSwitch = "Temporary Internet Files";

struct Switches {
  std::string user;
  std::string temp;
  std::string internet;
};

// The three values as stored in the configuration file, each "0" when missing.
Switches ReadSwitches();

}  // namespace tidrex::engine
