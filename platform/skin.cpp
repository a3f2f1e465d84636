#include "platform/skin.h"

namespace tidrex::platform {

bool SkinControl::Invoke(int dispatch_id, std::vector<SkinArgument> arguments) {
  calls_.push_back({dispatch_id, arguments});
  auto one = [&](std::size_t index) { return arguments.size() == 1 && arguments[0].index() == index; };
  switch (dispatch_id) {
    case 14: return one(0);
    case 8:
      if (!one(2)) return false;
      skin_file_ = std::get<std::string>(arguments[0]);
      return true;
    case 7: return arguments.empty();
    case 6:
      if (!one(1)) return false;
      window_ = std::get<std::int32_t>(arguments[0]);
      return true;
    default: return false;
  }
}

}  // namespace tidrex::platform
