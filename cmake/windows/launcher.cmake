# A Windows test program that runs the panel launcher through the real Win32 adapters under Wine.
add_executable(launcher_probe ${PROJECT_SOURCE_DIR}/tests/wine/launcher_probe.cpp)
target_link_libraries(launcher_probe PRIVATE tw_core tw_win32)
target_link_options(launcher_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
