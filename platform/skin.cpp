#include "platform/skin.h"

namespace tidrex::platform {

bool SkinControl::Invoke(int dispatch_id, std::vector<SkinArgument> arguments) {
  calls_.push_back({dispatch_id, arguments});
  auto one = [&](std::size_t index) { return arguments.size() == 1 && arguments[0].index() == index; };
  switch (dispatch_id) {
    case 14: return one(0);
    case 8: return one(2);
    case 7: return arguments.empty();
    case 6: return one(1);
    default: return false;
  }
}

}  // namespace tidrex::platform
