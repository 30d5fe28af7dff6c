// A simulated registry for read-only look-ups: default text values of keys under the two hives
// and the shell's associations. Key names compare without regard to ASCII case, as Windows does.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/registry_lookup.h"

namespace tw::sim {

class SimRegistryLookup : public RegistryLookup {
 public:
  // A REG_SZ default value; `isText` false stores a value of another type.
  void setDefaultValue(RegistryHive hive, const std::string& subkey, const std::string& value,
                       bool isText = true);
  void removeKey(RegistryHive hive, const std::string& subkey);
  void setAssociation(const std::string& association, const std::string& verb,
                      const std::string& executable);
  void removeAssociation(const std::string& association, const std::string& verb);

  bool readDefaultText(RegistryHive hive, const std::string& subkey, std::size_t maxBytes,
                       std::string& value) override;
  bool associatedExecutable(const std::string& association, const std::string& verb,
                            std::size_t maxChars, std::string& path) override;

 private:
  struct Value {
    std::string text;
    bool isText = true;
  };
  std::mutex mutex_;
  std::map<std::pair<RegistryHive, std::string>, Value> values_;
  std::map<std::string, std::string> associations_;
};

}  // namespace tw::sim
