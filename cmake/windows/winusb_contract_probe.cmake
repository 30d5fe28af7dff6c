# A Windows test program that breaks WinUSB's contract on purpose against the stand-in winusb.dll,
# so the Wine tests can see the stand-in refuse and report each mistake.
add_executable(winusb_contract_probe ${PROJECT_SOURCE_DIR}/tests/wine/winusb_contract_probe.cpp)
target_compile_definitions(winusb_contract_probe PRIVATE UNICODE _UNICODE)
target_link_libraries(winusb_contract_probe PRIVATE setupapi winusb)
target_link_options(winusb_contract_probe PRIVATE -municode -static -static-libgcc -static-libstdc++)
