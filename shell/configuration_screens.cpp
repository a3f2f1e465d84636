#include "shell/configuration_screens.h"

#include <stdexcept>

namespace tidrex::shell {

namespace {
ConfigurationScreens*& Connected() {
  static ConfigurationScreens* screens = nullptr;
  return screens;
}
}  // namespace

void ConnectConfigurationScreens(ConfigurationScreens& screens) { Connected() = &screens; }

ConfigurationScreens& Screens() {
  if (!Connected()) throw std::logic_error("the configuration screens are not connected");
  return *Connected();
}

}  // namespace tidrex::shell
