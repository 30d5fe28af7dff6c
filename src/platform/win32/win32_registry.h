// Registry text values and the shell's associations.
#pragma once

#include "platform/registry.h"

namespace tw::win32 {

class Win32Registry : public Registry {
 public:
  bool readDefaultText(RegistryHive hive, const std::string& subkey, std::size_t maxBytes,
                       std::string& value) override;
  bool associatedExecutable(const std::string& association, const std::string& verb,
                            std::size_t maxChars, std::string& path) override;
  bool readText(RegistryHive hive, const std::string& subkey, const std::string& name,
                std::size_t maxBytes, std::string& value, std::uint32_t& error) override;
  bool writeText(RegistryHive hive, const std::string& subkey, const std::string& name,
                 const std::string& value, std::uint32_t& error) override;
  bool deleteValue(RegistryHive hive, const std::string& subkey, const std::string& name,
                   std::uint32_t& error) override;
};

}  // namespace tw::win32
