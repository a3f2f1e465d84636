// Stands in for the skinning control hosted on the start-up form: an outside component that
// this system does not have. It takes the same calls, by dispatch identifier, checks their
// arguments and keeps them in order; it applies no look, so the program keeps the desktop's
// own style.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tidrex::platform {

using SkinArgument = std::variant<std::int16_t, std::int32_t, std::string>;

struct SkinCall {
  int dispatch_id = 0;
  std::vector<SkinArgument> arguments;
  bool operator==(const SkinCall&) const = default;
};

class SkinControl {
 public:
  // The members the program calls: 14 (a 16-bit switch), 8 (the skin file), 7 (no
  // argument) and 6 (the 32-bit window handle). Any other identifier or argument shape is
  // refused, as the control's dispatch would, and answers false; it is still recorded.
  bool Invoke(int dispatch_id, std::vector<SkinArgument> arguments);

  const std::vector<SkinCall>& Calls() const { return calls_; }

 private:
  std::vector<SkinCall> calls_;
};

}  // namespace tidrex::platform
