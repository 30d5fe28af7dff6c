#include "app/run_value.h"

#include <cstdint>

#include "common/text.h"

namespace tw {

bool RunValue::isStartWithWindowsOn() {
  std::string data;
  std::uint32_t error = 0;
  return registry_.readText(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME,
                            RUN_VALUE_READ_BYTES, data, error);
}

bool RunValue::writeRunValue(const std::string& programPath) {
  const std::string data = runValueData(programPath);
  if (data.empty()) return false;
  std::uint32_t error = 0;
  return registry_.writeText(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME, data, error);
}

bool RunValue::deleteRunValue() {
  std::uint32_t error = 0;
  return registry_.deleteValue(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME, error);
}

std::string RunValue::runValueData(const std::string& programPath) {
  // Quoted, because the path usually holds a space ("Tarnwick Bridge"). A cut path would start
  // some other file at log-on, so a path that does not fit gives nothing at all.
  std::string data = "\"" + programPath + "\" --startup";
  if (programPath.empty() || utf16Length(data) > RUN_VALUE_MAX_CHARS) return {};
  return data;
}

}  // namespace tw
