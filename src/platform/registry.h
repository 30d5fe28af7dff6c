// The registry: text values read, written and deleted, and the shell's file associations. Key and
// value names are UTF-8 ("Software\Microsoft\Windows\CurrentVersion\Run"); only the adapter speaks
// UTF-16. Failures carry the Windows error number.
// Windows: advapi32 and shlwapi. Linux: the simulated registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

// Windows error numbers of registry calls that the system tells apart.
inline constexpr std::uint32_t REGISTRY_ERROR_FILE_NOT_FOUND = 2;  // no such key or value
inline constexpr std::uint32_t REGISTRY_ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t REGISTRY_ERROR_MORE_DATA = 234;          // did not fit
inline constexpr std::uint32_t REGISTRY_ERROR_UNSUPPORTED_TYPE = 1630;  // not REG_SZ

enum class RegistryHive { CurrentUser, LocalMachine };

class Registry {
 public:
  virtual ~Registry() = default;
  // The default value of `subkey` under `hive`, only when it is of type REG_SZ and fits
  // `maxBytes` bytes of UTF-16 with its terminator. UTF-8 on return.
  virtual bool readDefaultText(RegistryHive hive, const std::string& subkey, std::size_t maxBytes,
                               std::string& value) = 0;
  // AssocQueryStringW(0, ASSOCSTR_EXECUTABLE, association, verb): the program registered for
  // `verb` of `association` (for example "http", "open"), at most `maxChars` UTF-16 units with
  // the terminator.
  virtual bool associatedExecutable(const std::string& association, const std::string& verb,
                                    std::size_t maxChars, std::string& path) = 0;

  // RegGetValueW with RRF_RT_REG_SZ into a buffer of `maxBytes` bytes: the value `name` of
  // `subkey`, only when it is REG_SZ (else REGISTRY_ERROR_UNSUPPORTED_TYPE) and fits with its
  // terminator (else REGISTRY_ERROR_MORE_DATA). An empty name is the key's default value.
  virtual bool readText(RegistryHive hive, const std::string& subkey, const std::string& name,
                        std::size_t maxBytes, std::string& value, std::uint32_t& error) = 0;
  // RegCreateKeyExW with KEY_SET_VALUE (creating the key and any missing keys above it), then
  // RegSetValueExW: a REG_SZ value stored with its terminator, (UTF-16 length + 1) * 2 bytes.
  virtual bool writeText(RegistryHive hive, const std::string& subkey, const std::string& name,
                         const std::string& value, std::uint32_t& error) = 0;
  // RegOpenKeyExW with KEY_SET_VALUE, then RegDeleteValueW. A missing key or value fails with
  // REGISTRY_ERROR_FILE_NOT_FOUND.
  virtual bool deleteValue(RegistryHive hive, const std::string& subkey, const std::string& name,
                           std::uint32_t& error) = 0;
};

}  // namespace tw
