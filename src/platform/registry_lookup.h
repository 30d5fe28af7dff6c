// Read-only registry look-ups: a key's default text value and the shell's file associations.
// Windows: advapi32 and shlwapi. Linux: the simulated registry.
#pragma once

#include <string>

namespace tw {

enum class RegistryHive { CurrentUser, LocalMachine };

class RegistryLookup {
 public:
  virtual ~RegistryLookup() = default;
  // The default value of `subkey` under `hive`, only when it is of type REG_SZ and fits
  // `maxBytes` bytes of UTF-16 with its terminator. UTF-8 on return.
  virtual bool readDefaultText(RegistryHive hive, const std::string& subkey, std::size_t maxBytes,
                               std::string& value) = 0;
  // AssocQueryStringW(0, ASSOCSTR_EXECUTABLE, association, verb): the program registered for
  // `verb` of `association` (for example "http", "open"), at most `maxChars` UTF-16 units with
  // the terminator.
  virtual bool associatedExecutable(const std::string& association, const std::string& verb,
                                    std::size_t maxChars, std::string& path) = 0;
};

}  // namespace tw
