# A Windows test program that runs the file-system and registry adapters under Wine, with the same
# checks the simulated file system and registry meet on Linux.
add_executable(file_system_probe ${PROJECT_SOURCE_DIR}/tests/wine/file_system_probe.cpp)
target_include_directories(file_system_probe PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(file_system_probe PRIVATE tw_win32)
target_link_options(file_system_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
