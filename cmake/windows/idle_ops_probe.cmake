# A Windows test program that times each operation of an idle Tarnwick.exe (the poll's HID
# enumeration, the watcher pass and its parts, waits and posted messages) under Wine, for
# tools/idle_ops.sh.
add_executable(idle_ops_probe ${PROJECT_SOURCE_DIR}/tests/wine/idle_ops_probe.cpp)
target_link_libraries(idle_ops_probe PRIVATE tw_core tw_win32 tw_trusted_key_development)
target_link_options(idle_ops_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
