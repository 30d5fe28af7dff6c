# A Windows test program that fetches through the WinHTTP adapter from an update host named
# "localhost", so that a local HTTPS server can stand in for the vendor's.
set(TW_HTTPS_PROBE_HOST ${CMAKE_CURRENT_BINARY_DIR}/https_probe_host.cpp)
file(WRITE ${TW_HTTPS_PROBE_HOST}.in [=[
#include "firmware/update_host.h"
namespace tw {
const char UpdateHost[] = "localhost";
const char UpdateFirmwarePrefix[] = "https://localhost/firmware/";
}  // namespace tw
]=])
configure_file(${TW_HTTPS_PROBE_HOST}.in ${TW_HTTPS_PROBE_HOST} COPYONLY)
add_executable(https_probe
  ${PROJECT_SOURCE_DIR}/tests/wine/https_probe.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/https_get.cpp
  ${PROJECT_SOURCE_DIR}/src/common/text.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/win32/winhttp_https.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/win32/utf16.cpp
  ${TW_HTTPS_PROBE_HOST})
target_include_directories(https_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(https_probe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0A00)
target_link_libraries(https_probe PRIVATE winhttp)
target_link_options(https_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
