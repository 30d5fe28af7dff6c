# A Windows test program that builds the firmware side with the Win32 adapters, as Tarnwick.exe
# does, and runs board-watcher passes under Wine. It carries the built-in image as resource 200,
# so that the advice after a pass has something to offer.
set(TW_WATCHER_PROBE_RC ${CMAKE_CURRENT_BINARY_DIR}/watcher_probe.rc)
file(WRITE ${TW_WATCHER_PROBE_RC} "200 RCDATA \"${TW_BUILT_IN_IMAGE}\"\n")
set_source_files_properties(${TW_WATCHER_PROBE_RC} PROPERTIES OBJECT_DEPENDS ${TW_BUILT_IN_IMAGE})
add_executable(watcher_probe ${PROJECT_SOURCE_DIR}/tests/wine/watcher_probe.cpp
  ${TW_WATCHER_PROBE_RC})
add_dependencies(watcher_probe tw_firmware_image)
target_link_libraries(watcher_probe PRIVATE tw_core tw_win32 tw_trusted_key_development)
target_link_options(watcher_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
