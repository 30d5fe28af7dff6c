// What tells this product's firmware apart from anything else a board may hold.
#pragma once

namespace tw {

// The program name our firmware declares in its program information.
inline constexpr char kOurProgramName[] = "korrinlink";

// The oldest version of our firmware that restarts itself into update mode when asked; older ones
// need the person to hold the button.
inline constexpr char kOldestSelfSwitchingVersion[] = "0.9.0";

}  // namespace tw
