# A Windows test program that runs the WinUSB adapter's finding and opening under Wine.
add_executable(usb_probe ${PROJECT_SOURCE_DIR}/tests/wine/usb_probe.cpp)
target_link_libraries(usb_probe PRIVATE tw_win32)
target_link_options(usb_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
