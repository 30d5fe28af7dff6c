# A Windows test program that gets a release through the system's fetch, cache and signature check
# with the real adapters (WinHTTP, files, CNG), from an update host named "localhost", trusting the
# development release key.
set(TW_FETCH_PROBE_HOST ${CMAKE_CURRENT_BINARY_DIR}/firmware_fetch_probe_host.cpp)
file(WRITE ${TW_FETCH_PROBE_HOST}.in [=[
#include "firmware/update_host.h"
namespace tw {
const char UpdateHost[] = "localhost";
const char UpdateFirmwarePrefix[] = "https://localhost/firmware/";
}  // namespace tw
]=])
configure_file(${TW_FETCH_PROBE_HOST}.in ${TW_FETCH_PROBE_HOST} COPYONLY)
add_executable(firmware_fetch_probe
  ${PROJECT_SOURCE_DIR}/tests/wine/firmware_fetch_probe.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/fetch_firmware.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/firmware_cache.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/https_get.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/release_signature.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/sha256.cpp
  ${PROJECT_SOURCE_DIR}/src/common/text.cpp
  ${TW_FETCH_PROBE_HOST})
target_include_directories(firmware_fetch_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(firmware_fetch_probe PRIVATE tw_win32 tw_trusted_key_development)
target_link_options(firmware_fetch_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
