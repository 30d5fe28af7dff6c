# The Windows side: the Win32 adapters and Tarnwick.exe, statically linked so that it imports
# only Windows system DLLs.

tw_subsystem(tw_win32 platform/win32 DEPENDS tw_ports)
target_compile_definitions(tw_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0A00)
target_link_libraries(tw_win32 PUBLIC setupapi hid user32 gdi32 shell32 advapi32 ws2_32 winhttp
  bcrypt cfgmgr32 winusb shlwapi version ole32 uuid)

# tw_windows_program(<target> <version text> <release key>): one build of the program, trusting
# the release key of that name (cmake/assets/release_keys.cmake). The test build adds a second one
# with a newer version, to exercise the hand-over between running instances.
#
# The version resource names the product only in a build that trusts the vendor's key. The
# installed copy is taken for ours by its OriginalFilename and ProductName, so a build trusting the
# development key says otherwise: run once with start with Windows on, it becomes the installed
# copy, and the product must still replace it at its next start instead of deferring to its version.
function(tw_windows_program target version key)
  if(key STREQUAL "release")
    set(TW_RC_DESCRIPTION "Tarnwick Bridge")
    set(TW_RC_INTERNAL_NAME "TarnwickBridge")
    set(TW_RC_ORIGINAL_FILENAME "Tarnwick.exe")
    set(TW_RC_PRODUCT_NAME "Tarnwick Bridge")
  else()
    set(TW_RC_DESCRIPTION "Tarnwick Bridge test build (${key} release key)")
    set(TW_RC_INTERNAL_NAME "TarnwickBridgeTest")
    set(TW_RC_ORIGINAL_FILENAME "${target}-test.exe")
    set(TW_RC_PRODUCT_NAME "Tarnwick Bridge test build")
  endif()
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 TW_RC_MAJOR)
  list(GET parts 1 TW_RC_MINOR)
  list(GET parts 2 TW_RC_PATCH)
  set(TW_RC_VERSION_TEXT ${version})
  set(TW_RC_ICON_DIR ${TW_GENERATED_DIR})
  set(TW_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  # Asset modules add resource lines (for example RCDATA) and the targets that generate them.
  get_property(extra GLOBAL PROPERTY TW_RC_EXTRA)
  string(REPLACE ";" "\n" TW_RC_EXTRA "${extra}")
  get_property(assetTargets GLOBAL PROPERTY TW_ASSET_TARGETS)
  configure_file(${PROJECT_SOURCE_DIR}/assets/tarnwick.manifest.in ${TW_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/assets/tarnwick.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/src/main_windows.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  # windres reads the files its lines name, but the build does not scan for them: without this a
  # regenerated image or icon would leave a program carrying the old one.
  get_property(rcFiles GLOBAL PROPERTY TW_RC_FILES)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${TW_ICON_FILES};${TW_RC_MANIFEST};${rcFiles}")
  add_dependencies(${target} tw_icons ${assetTargets})
  target_compile_definitions(${target} PRIVATE TW_VERSION_TEXT="${version}")
  target_link_libraries(${target} PRIVATE tw_core tw_win32 tw_assets tw_trusted_key_${key})
  target_link_options(${target} PRIVATE -municode -static -static-libgcc -static-libstdc++
    $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()

tw_windows_program(Tarnwick ${TW_VERSION} ${TW_RELEASE_KEY})

# A product tree (TW_FIRMWARE_FILE set) builds Tarnwick.exe alone: the 1.2.1 build, the test
# helpers and the test programs of cmake/windows/ trust the development key or exist only for the
# tests, and none of them belongs beside the product.
if(TW_FIRMWARE_FILE)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries AND "tw_trusted_key_development" IN_LIST libraries)
      message(FATAL_ERROR "${target} trusts the development release key; a product tree "
        "(TW_FIRMWARE_FILE is set) builds no such program.")
    endif()
  endforeach()
  return()
endif()

tw_windows_program(TarnwickNewer 1.2.1 development)

# Test helpers run under Wine next to the program.
file(GLOB TW_WINE_HELPERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/wine/*_helper.cpp)
foreach(src ${TW_WINE_HELPERS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE)
  target_link_options(${name} PRIVATE -municode -static -static-libgcc -static-libstdc++)
  target_link_libraries(${name} PRIVATE user32 kernel32)
endforeach()

# Windows test programs of each subsystem (run under Wine) live in their own files.
file(GLOB TW_WINDOWS_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/*.cmake)
foreach(module ${TW_WINDOWS_MODULES})
  include(${module})
endforeach()
