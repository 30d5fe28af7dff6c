#include "sim/sim_registry_lookup.h"

#include "sim/utf16_units.h"

namespace tw::sim {
namespace {

std::string lowered(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

void SimRegistryLookup::setDefaultValue(RegistryHive hive, const std::string& subkey,
                                        const std::string& value, bool isText) {
  std::lock_guard lock(mutex_);
  values_[{hive, lowered(subkey)}] = Value{value, isText};
}

void SimRegistryLookup::removeKey(RegistryHive hive, const std::string& subkey) {
  std::lock_guard lock(mutex_);
  values_.erase({hive, lowered(subkey)});
}

void SimRegistryLookup::setAssociation(const std::string& association, const std::string& verb,
                                       const std::string& executable) {
  std::lock_guard lock(mutex_);
  associations_[lowered(association) + "\n" + lowered(verb)] = executable;
}

void SimRegistryLookup::removeAssociation(const std::string& association, const std::string& verb) {
  std::lock_guard lock(mutex_);
  associations_.erase(lowered(association) + "\n" + lowered(verb));
}

bool SimRegistryLookup::readDefaultText(RegistryHive hive, const std::string& subkey,
                                        std::size_t maxBytes, std::string& value) {
  std::lock_guard lock(mutex_);
  auto it = values_.find({hive, lowered(subkey)});
  if (it == values_.end() || !it->second.isText) return false;
  // RegQueryValueExW fails with ERROR_MORE_DATA when the text and its terminator do not fit.
  if ((utf16Units(it->second.text) + 1) * 2 > maxBytes) return false;
  value = it->second.text;
  return true;
}

bool SimRegistryLookup::associatedExecutable(const std::string& association,
                                             const std::string& verb, std::size_t maxChars,
                                             std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = associations_.find(lowered(association) + "\n" + lowered(verb));
  if (it == associations_.end()) return false;
  if (utf16Units(it->second) + 1 > maxChars) return false;
  path = it->second;
  return true;
}

}  // namespace tw::sim
