// Registry default values and the shell's associations.
#pragma once

#include "platform/registry_lookup.h"

namespace tw::win32 {

class Win32RegistryLookup : public RegistryLookup {
 public:
  bool readDefaultText(RegistryHive hive, const std::string& subkey, std::size_t maxBytes,
                       std::string& value) override;
  bool associatedExecutable(const std::string& association, const std::string& verb,
                            std::size_t maxChars, std::string& path) override;
};

}  // namespace tw::win32
