// The configuration screens as the shell opens them. The pages stand on the shell (its
// backdrop, work form, clean and close-all), so the shell does not name them: the screens
// library implements this interface and connects it (screens::ConnectToShell) before the
// program starts, and only `screens` links `shell`, never the other way round.
#pragma once

#include "platform/forms.h"

namespace tidrex::shell {

class ConfigurationScreens {
 public:
  virtual ~ConfigurationScreens() = default;
  // The start page, loaded where it is not (its load shows it), as on a first start.
  virtual void LoadStartPage() = 0;
  // The start page and the About page, opened as a navigation command opens a page.
  virtual forms::Form& OpenStartPage() = 0;
  virtual void OpenAboutPage() = 0;
};

void ConnectConfigurationScreens(ConfigurationScreens& screens);

// The connected screens; throws std::logic_error when none were connected.
ConfigurationScreens& Screens();

}  // namespace tidrex::shell
