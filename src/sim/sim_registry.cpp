#include "sim/sim_registry.h"

#include "sim/utf16_units.h"
#include "sim/windows_names.h"

namespace tw::sim {
namespace {

bool fail(std::uint32_t& error, std::uint32_t code) {
  error = code;
  return false;
}

// RegQueryValueExW and RegGetValueW need room for the text and its terminator.
bool fits(const std::string& text, std::size_t maxBytes) {
  return (utf16Units(text) + 1) * 2 <= maxBytes;
}

}  // namespace

SimRegistry::KeyId SimRegistry::keyId(RegistryHive hive, const std::string& subkey) {
  return {hive, lowerAscii(subkey)};
}

SimRegistry::Key& SimRegistry::makeKey(const KeyId& id) {
  // RegCreateKeyExW makes every missing key on the way.
  for (std::size_t slash = id.second.find('\\'); slash != std::string::npos;
       slash = id.second.find('\\', slash + 1)) {
    keys_[{id.first, id.second.substr(0, slash)}];
  }
  return keys_[id];
}

const SimRegistryValue* SimRegistry::find(const KeyId& id, const std::string& name,
                                          std::uint32_t& error) const {
  auto key = keys_.find(id);
  if (key == keys_.end()) {
    error = REGISTRY_ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  auto value = key->second.values.find(lowerAscii(name));
  if (value == key->second.values.end()) {
    error = REGISTRY_ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return &value->second;
}

bool SimRegistry::failing(const std::string& operation, std::uint32_t& error) {
  if (faults_.next(operation) != FaultKind::Fail) return false;
  std::lock_guard lock(mutex_);
  error = faultErrors_[operation];
  return true;
}

void SimRegistry::setValue(RegistryHive hive, const std::string& subkey, const std::string& name,
                           const SimRegistryValue& value) {
  std::lock_guard lock(mutex_);
  makeKey(keyId(hive, subkey)).values[lowerAscii(name)] = value;
}

void SimRegistry::setDefaultValue(RegistryHive hive, const std::string& subkey,
                                  const std::string& value, bool isText) {
  setValue(hive, subkey, "",
           isText ? SimRegistryValue{SimValueType::Sz, value}
                  : SimRegistryValue{SimValueType::Dword, std::string("\x01\x00\x00\x00", 4)});
}

std::optional<SimRegistryValue> SimRegistry::value(RegistryHive hive, const std::string& subkey,
                                                   const std::string& name) const {
  std::lock_guard lock(mutex_);
  std::uint32_t ignored = 0;
  const SimRegistryValue* found = find(keyId(hive, subkey), name, ignored);
  if (!found) return std::nullopt;
  return *found;
}

bool SimRegistry::keyExists(RegistryHive hive, const std::string& subkey) const {
  std::lock_guard lock(mutex_);
  return keys_.count(keyId(hive, subkey)) != 0;
}

void SimRegistry::removeKey(RegistryHive hive, const std::string& subkey) {
  std::lock_guard lock(mutex_);
  const KeyId id = keyId(hive, subkey);
  const std::string below = id.second + "\\";
  for (auto it = keys_.begin(); it != keys_.end();) {
    const bool gone =
        it->first.first == hive &&
        (it->first.second == id.second || it->first.second.compare(0, below.size(), below) == 0);
    it = gone ? keys_.erase(it) : std::next(it);
  }
}

void SimRegistry::setAssociation(const std::string& association, const std::string& verb,
                                 const std::string& executable) {
  std::lock_guard lock(mutex_);
  associations_[lowerAscii(association) + "\n" + lowerAscii(verb)] = executable;
}

void SimRegistry::removeAssociation(const std::string& association, const std::string& verb) {
  std::lock_guard lock(mutex_);
  associations_.erase(lowerAscii(association) + "\n" + lowerAscii(verb));
}

void SimRegistry::allowMachineWrites(bool allowed) {
  std::lock_guard lock(mutex_);
  machineWritable_ = allowed;
}

void SimRegistry::setExpander(std::function<std::string(const std::string&)> expand) {
  std::lock_guard lock(mutex_);
  expand_ = std::move(expand);
}

void SimRegistry::failCall(const std::string& operation, std::uint32_t error, std::uint32_t nth,
                           std::uint32_t count) {
  {
    std::lock_guard lock(mutex_);
    faultErrors_[operation] = error;
  }
  faults_.inject(operation, FaultKind::Fail, nth, count);
}

bool SimRegistry::readDefaultText(RegistryHive hive, const std::string& subkey,
                                  std::size_t maxBytes, std::string& value) {
  std::lock_guard lock(mutex_);
  std::uint32_t ignored = 0;
  const SimRegistryValue* found = find(keyId(hive, subkey), "", ignored);
  if (!found || found->type != SimValueType::Sz || !fits(found->data, maxBytes)) return false;
  value = found->data;
  return true;
}

bool SimRegistry::associatedExecutable(const std::string& association, const std::string& verb,
                                       std::size_t maxChars, std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = associations_.find(lowerAscii(association) + "\n" + lowerAscii(verb));
  if (it == associations_.end()) return false;
  if (utf16Units(it->second) + 1 > maxChars) return false;
  path = it->second;
  return true;
}

bool SimRegistry::readText(RegistryHive hive, const std::string& subkey, const std::string& name,
                           std::size_t maxBytes, std::string& value, std::uint32_t& error) {
  if (failing("readText", error)) return false;
  std::lock_guard lock(mutex_);
  const SimRegistryValue* found = find(keyId(hive, subkey), name, error);
  if (!found) return false;
  // RegGetValueW expands a REG_EXPAND_SZ value and then takes it for REG_SZ.
  std::string text;
  if (found->type == SimValueType::Sz) {
    text = found->data;
  } else if (found->type == SimValueType::ExpandSz) {
    text = expand_ ? expand_(found->data) : found->data;
  } else {
    return fail(error, REGISTRY_ERROR_UNSUPPORTED_TYPE);
  }
  if (!fits(text, maxBytes)) return fail(error, REGISTRY_ERROR_MORE_DATA);
  value = text;
  return true;
}

bool SimRegistry::writeText(RegistryHive hive, const std::string& subkey, const std::string& name,
                            const std::string& value, std::uint32_t& error) {
  if (failing("writeText", error)) return false;
  std::lock_guard lock(mutex_);
  if (hive == RegistryHive::LocalMachine && !machineWritable_) {
    return fail(error, REGISTRY_ERROR_ACCESS_DENIED);
  }
  makeKey(keyId(hive, subkey)).values[lowerAscii(name)] = SimRegistryValue{SimValueType::Sz, value};
  return true;
}

bool SimRegistry::deleteValue(RegistryHive hive, const std::string& subkey, const std::string& name,
                              std::uint32_t& error) {
  if (failing("deleteValue", error)) return false;
  std::lock_guard lock(mutex_);
  auto key = keys_.find(keyId(hive, subkey));
  if (key == keys_.end()) return fail(error, REGISTRY_ERROR_FILE_NOT_FOUND);
  if (hive == RegistryHive::LocalMachine && !machineWritable_) {
    return fail(error, REGISTRY_ERROR_ACCESS_DENIED);
  }
  if (key->second.values.erase(lowerAscii(name)) == 0) {
    return fail(error, REGISTRY_ERROR_FILE_NOT_FOUND);
  }
  return true;
}

}  // namespace tw::sim
