# Test-only stand-ins for the device DLLs Tarnwick.exe imports (hid.dll, setupapi.dll,
# winusb.dll), hosting the simulated world under Wine; tools/wine_devices.sh runs a program with
# them. They are built into wine-devices/ and never beside a program we ship.
set(TW_WINE_PE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH
  "Wine's own 64-bit DLLs, which the stand-ins forward to")
set(TW_DEVICES_DIR ${CMAKE_BINARY_DIR}/wine-devices)
set(devices ${PROJECT_SOURCE_DIR}/tests/wine/devices)

# The simulated world as the Linux app has it, less the update host (it signs with OpenSSL).
file(GLOB simSources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/sim/*.cpp)
list(FILTER simSources EXCLUDE REGEX "/(release_signer|update_host_sim|sim_releases)\\.cpp$")
file(GLOB deviceSources CONFIGURE_DEPENDS ${devices}/*.cpp)
add_library(tw_device_world SHARED ${deviceSources} ${simSources}
  ${PROJECT_SOURCE_DIR}/src/platform/win32/win32_clock.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/win32/utf16.cpp)
target_include_directories(tw_device_world PRIVATE ${PROJECT_SOURCE_DIR}/src ${devices})
target_compile_definitions(tw_device_world PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0A00)
target_link_libraries(tw_device_world PRIVATE ws2_32 shell32 user32)
target_link_options(tw_device_world PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(tw_device_world PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${TW_DEVICES_DIR})

find_program(TW_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
foreach(dll hid setupapi winusb)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${dll}_standin.def)
  add_custom_command(OUTPUT ${def} ${TW_DEVICES_DIR}/${dll}_wine.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TW_DEVICES_DIR}
    COMMAND python3 ${devices}/make_forwarders.py ${TW_WINE_PE_DIR}/${dll}.dll ${def}
      ${TW_DEVICES_DIR}/${dll}_wine.dll ${TW_MINGW_OBJDUMP}
    DEPENDS ${devices}/make_forwarders.py ${TW_WINE_PE_DIR}/${dll}.dll VERBATIM)
  # The target is not named after the DLL: "hid" and "setupapi" are the system's import libraries.
  add_library(tw_standin_${dll} SHARED ${devices}/forwarders_only.c ${def})
  set_target_properties(tw_standin_${dll} PROPERTIES PREFIX "" OUTPUT_NAME ${dll}
    RUNTIME_OUTPUT_DIRECTORY ${TW_DEVICES_DIR})
  target_link_libraries(tw_standin_${dll} PRIVATE tw_device_world)
endforeach()
