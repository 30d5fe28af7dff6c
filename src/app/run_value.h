// The per-user Run value that starts the installed copy at log-on. It is the only record of
// whether start with Windows is on: nothing else is kept, so every question goes to the registry.
#pragma once

#include <cstddef>
#include <string>

#include "platform/registry.h"

namespace tw {

inline constexpr const char* RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* RUN_VALUE_NAME = "Tarnwick Bridge";
// The buffer the value is read into; a longer value, like one of another type, counts as off.
inline constexpr std::size_t RUN_VALUE_READ_BYTES = 1040;
// Characters of the value's data, without the terminator.
inline constexpr std::size_t RUN_VALUE_MAX_CHARS = 535;

class RunValue {
 public:
  explicit RunValue(Registry& registry) : registry_(registry) {}

  // The value reads as REG_SZ text.
  bool isStartWithWindowsOn();
  // Sets the value to "\"<programPath>\" --startup", creating the key when needed. Failures are
  // silent; false when nothing was written.
  bool writeRunValue(const std::string& programPath);
  // Removes the value; a missing key or value is no failure worth reporting.
  bool deleteRunValue();

  // The value's data for a program, empty when it would not fit.
  static std::string runValueData(const std::string& programPath);

 private:
  Registry& registry_;
};

}  // namespace tw
