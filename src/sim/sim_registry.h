// A simulated registry: keys under the two hives with named values of any type, the shell's
// associations, and failures on demand. Key and value names compare without regard to ASCII case,
// as Windows compares them. A per-user process may not write under HKEY_LOCAL_MACHINE: such writes
// are refused with REGISTRY_ERROR_ACCESS_DENIED unless allowed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/registry.h"
#include "sim/faults.h"

namespace tw::sim {

enum class SimValueType { Sz, ExpandSz, MultiSz, Dword, Binary };

struct SimRegistryValue {
  SimValueType type = SimValueType::Sz;
  std::string data;  // UTF-8 text for the text types, the raw bytes otherwise
};

class SimRegistry : public Registry {
 public:
  // Scripting. An empty value name is the key's default value. Keys above are made as needed.
  void setValue(RegistryHive hive, const std::string& subkey, const std::string& name,
                const SimRegistryValue& value);
  // A REG_SZ default value; `isText` false stores a REG_DWORD instead.
  void setDefaultValue(RegistryHive hive, const std::string& subkey, const std::string& value,
                       bool isText = true);
  std::optional<SimRegistryValue> value(RegistryHive hive, const std::string& subkey,
                                        const std::string& name) const;
  bool keyExists(RegistryHive hive, const std::string& subkey) const;
  // Removes the key with its values and every key below it.
  void removeKey(RegistryHive hive, const std::string& subkey);
  void setAssociation(const std::string& association, const std::string& verb,
                      const std::string& executable);
  void removeAssociation(const std::string& association, const std::string& verb);
  void allowMachineWrites(bool allowed);
  // Expands the environment strings of REG_EXPAND_SZ values, which readText returns expanded as
  // RegGetValueW does; without it they come back as stored.
  void setExpander(std::function<std::string(const std::string&)> expand);
  // The `nth` call from now of `operation` (a method name of the port: "readText", "writeText",
  // "deleteValue") fails with `error`, for `count` calls.
  void failCall(const std::string& operation, std::uint32_t error, std::uint32_t nth = 1,
                std::uint32_t count = 1);

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

 private:
  struct Key {
    std::map<std::string, SimRegistryValue> values;  // lower-cased name -> value
  };
  using KeyId = std::pair<RegistryHive, std::string>;  // hive, tidied lower-cased subkey
  static KeyId keyId(RegistryHive hive, const std::string& subkey);
  Key& makeKey(const KeyId& id);
  const SimRegistryValue* find(const KeyId& id, const std::string& name,
                               std::uint32_t& error) const;
  bool failing(const std::string& operation, std::uint32_t& error);

  mutable std::mutex mutex_;
  std::map<KeyId, Key> keys_;
  std::map<std::string, std::string> associations_;
  bool machineWritable_ = false;
  std::function<std::string(const std::string&)> expand_;
  FaultPlan faults_;
  std::map<std::string, std::uint32_t> faultErrors_;
};

}  // namespace tw::sim
