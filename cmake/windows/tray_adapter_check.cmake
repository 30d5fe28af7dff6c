# A Windows test program that exercises the tray's Win32 adapters under Wine: windows and
# messages, the mutex and waits, overlapped reads and writes, and the UTF-16 helpers.
add_executable(tray_adapter_check ${PROJECT_SOURCE_DIR}/tests/wine/tray_adapter_check.cpp)
target_link_libraries(tray_adapter_check PRIVATE tw_win32)
target_link_options(tray_adapter_check PRIVATE -municode -static -static-libgcc -static-libstdc++)
