# The firmware image built into the program, and the constants the program checks it against at
# start-up (kBuiltInImageVersion, kBuiltInImageProgram, kBuiltInImageSize, kBuiltInImageSha256 in
# src/firmware/built_in_image.h).
#
# Test builds (the default) carry a stand-in that tools/make_firmware_image.cpp generates. Its
# constants are written in built_in_image.h, and the build stops when the generated file no
# longer has the digest recorded there.
#
# A product build is given the real firmware and its published digest:
#   -DTW_FIRMWARE_FILE=<file.uf2> -DTW_FIRMWARE_SHA256=<64 hexadecimal digits>
# It stops unless both are given, the file has that digest, passes the UF2 check and declares the
# stand-in's program name and a usable version. The constants are then read from the file itself
# (tools/firmware_info.cpp, built from the system's own UF2 reader and SHA-256) into a generated
# header, so what the program checks at start-up is exactly what it carries.
#
# Run as a script (cmake -DTW_IMAGE=<file> -DTW_SHA256=<digest> -P firmware_image.cmake) it
# checks the digest of a file the build made, and removes the file when it doesn't match.

if(CMAKE_SCRIPT_MODE_FILE)
  file(SHA256 ${TW_IMAGE} actual)
  if(NOT actual STREQUAL TW_SHA256)
    file(REMOVE ${TW_IMAGE})
    message(FATAL_ERROR "The firmware image ${TW_IMAGE} has SHA-256 ${actual}, but the program "
      "is built to expect ${TW_SHA256}. For the generated stand-in, update the constant in "
      "src/firmware/built_in_image.h only when the image is meant to change.")
  endif()
  return()
endif()

set(TW_FIRMWARE_FILE "" CACHE FILEPATH
  "Product builds: the dongle firmware (UF2) to build in instead of the generated stand-in")
set(TW_FIRMWARE_SHA256 "" CACHE STRING
  "Product builds: the published SHA-256 of TW_FIRMWARE_FILE (64 hexadecimal digits)")

set(TW_BUILT_IN_HEADER ${PROJECT_SOURCE_DIR}/src/firmware/built_in_image.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TW_BUILT_IN_HEADER})
file(READ ${TW_BUILT_IN_HEADER} text)
foreach(name Version Program Sha256)
  if(NOT text MATCHES "kBuiltInImage${name}\\[\\] =[ \t\r\n]*\"([^\"]*)\"")
    message(FATAL_ERROR "kBuiltInImage${name} not found in ${TW_BUILT_IN_HEADER}")
  endif()
  set(TW_STAND_IN_${name} ${CMAKE_MATCH_1})
endforeach()
if(NOT text MATCHES "kBuiltInImageSize = ([0-9]+);")
  message(FATAL_ERROR "kBuiltInImageSize not found in ${TW_BUILT_IN_HEADER}")
endif()
set(TW_STAND_IN_Size ${CMAKE_MATCH_1})

# Tools run on the build machine, so they are compiled with the host's compiler even when the
# program itself is cross-compiled.
if(CMAKE_CROSSCOMPILING)
  find_program(TW_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
else()
  set(TW_HOST_CXX ${CMAKE_CXX_COMPILER})
endif()

if(TW_FIRMWARE_FILE OR TW_FIRMWARE_SHA256)
  if(NOT TW_FIRMWARE_FILE OR NOT TW_FIRMWARE_SHA256)
    message(FATAL_ERROR "TW_FIRMWARE_FILE and TW_FIRMWARE_SHA256 go together: a product build "
      "needs the firmware file and its published SHA-256; a test build neither.")
  endif()
  # The product is Tarnwick.exe. Every Linux program trusts the development key and the tests
  # pin the stand-in, so a Linux tree given the real firmware would build nothing worth having.
  if(NOT WIN32)
    message(FATAL_ERROR "A product build (TW_FIRMWARE_FILE is set) builds Tarnwick.exe: configure "
      "it with the windows-release preset, in a tree of its own.")
  endif()
  string(TOLOWER "${TW_FIRMWARE_SHA256}" expected)
  if(NOT expected MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "TW_FIRMWARE_SHA256 is not 64 hexadecimal digits: ${TW_FIRMWARE_SHA256}")
  endif()
  string(LENGTH "${expected}" length)
  if(NOT length EQUAL 64)
    message(FATAL_ERROR "TW_FIRMWARE_SHA256 is not 64 hexadecimal digits: ${TW_FIRMWARE_SHA256}")
  endif()
  get_filename_component(source ${TW_FIRMWARE_FILE} ABSOLUTE)
  if(NOT EXISTS ${source} OR IS_DIRECTORY ${source})
    message(FATAL_ERROR "TW_FIRMWARE_FILE: no such file: ${source}")
  endif()
  # A changed file configures again, and so is checked again, before anything is built from it.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(SHA256 ${source} actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "TW_FIRMWARE_FILE ${source} has SHA-256 ${actual}, not the "
      "TW_FIRMWARE_SHA256 given (${expected}). Nothing is built from a file that doesn't match.")
  endif()

  # Read what the file declares with the system's own code, as the program will.
  set(infoSources tools/firmware_info.cpp src/firmware/uf2_check.cpp
    src/firmware/program_info.cpp src/firmware/firmware_image.cpp src/firmware/sha256.cpp)
  list(TRANSFORM infoSources PREPEND ${PROJECT_SOURCE_DIR}/)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${infoSources})
  set(infoTool ${CMAKE_BINARY_DIR}/tools/firmware_info)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  execute_process(COMMAND ${TW_HOST_CXX} -std=c++20 -O1 -I${PROJECT_SOURCE_DIR}/src
      -o ${infoTool} ${infoSources}
    RESULT_VARIABLE failed ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "Building tools/firmware_info.cpp failed:\n${errors}")
  endif()
  execute_process(COMMAND ${infoTool} ${source}
    RESULT_VARIABLE failed OUTPUT_VARIABLE info ERROR_VARIABLE errors)
  if(failed OR NOT info MATCHES "^([^\n]*)\n([^\n]*)\n([0-9a-f]+)\n$")
    message(FATAL_ERROR "TW_FIRMWARE_FILE is not firmware this program can install: ${errors}")
  endif()
  set(program "${CMAKE_MATCH_1}")
  set(version "${CMAKE_MATCH_2}")
  if(NOT CMAKE_MATCH_3 STREQUAL expected)
    message(FATAL_ERROR "The program's SHA-256 gives ${CMAKE_MATCH_3} for ${source}, CMake's "
      "gives ${expected}: the program would refuse the image it carries.")
  endif()
  if(NOT program STREQUAL TW_STAND_IN_Program)
    message(FATAL_ERROR "TW_FIRMWARE_FILE declares the program name \"${program}\", not "
      "\"${TW_STAND_IN_Program}\": it is not Tarnwick Bridge firmware.")
  endif()
  # The version is offered to people and compared with others; it goes into a C++ string.
  if(NOT version MATCHES "^[vV]?[0-9]+\\.[0-9]+[0-9A-Za-z.+~_-]*$")
    message(FATAL_ERROR "TW_FIRMWARE_FILE declares the version \"${version}\", which this "
      "program can't offer (it wants at least major.minor).")
  endif()
  file(SIZE ${source} size)

  set(TW_BUILT_IN_IMAGE ${TW_GENERATED_DIR}/${program}-${version}.uf2)
  set(constantsDir ${TW_GENERATED_DIR}/product_firmware)
  file(MAKE_DIRECTORY ${constantsDir})
  file(CONFIGURE OUTPUT ${constantsDir}/built_in_image_product.h CONTENT
"// Written by the build from ${source}; do not edit.
// Included by firmware/built_in_image.h.
#pragma once

#include <cstddef>

namespace tw {

constexpr char kBuiltInImageVersion[] = \"${version}\";
constexpr char kBuiltInImageProgram[] = \"${program}\";
constexpr std::size_t kBuiltInImageSize = ${size};
constexpr char kBuiltInImageSha256[] = \"${expected}\";

}  // namespace tw
")
  target_compile_definitions(tw_firmware PUBLIC TW_PRODUCT_FIRMWARE)
  target_include_directories(tw_firmware PUBLIC ${constantsDir})
  # The copy that is built in is checked again, so a file changed after configuring never
  # slips in under the old digest.
  add_custom_command(OUTPUT ${TW_BUILT_IN_IMAGE}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${TW_BUILT_IN_IMAGE}
    COMMAND ${CMAKE_COMMAND} -DTW_IMAGE=${TW_BUILT_IN_IMAGE} -DTW_SHA256=${expected}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${source} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Checking the product firmware ${version}")
  message(STATUS "Building in the product firmware ${program} ${version} (${size} bytes)")
else()
  math(EXPR blocks "${TW_STAND_IN_Size} / 512")
  set(TW_IMAGE_TOOL ${CMAKE_BINARY_DIR}/tools/make_firmware_image)
  # The program information is laid out by the simulated world's writer, the one copy of it.
  set(TW_IMAGE_TOOL_SOURCES tools/make_firmware_image.cpp src/sim/program_info_layout.cpp)
  list(TRANSFORM TW_IMAGE_TOOL_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
  add_custom_command(OUTPUT ${TW_IMAGE_TOOL}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
    COMMAND ${TW_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/src
            -o ${TW_IMAGE_TOOL} ${TW_IMAGE_TOOL_SOURCES}
    DEPENDS ${TW_IMAGE_TOOL_SOURCES} ${PROJECT_SOURCE_DIR}/src/sim/program_info_layout.h
    COMMENT "Building the firmware image generator with the host compiler")

  set(TW_BUILT_IN_IMAGE ${TW_GENERATED_DIR}/${TW_STAND_IN_Program}-${TW_STAND_IN_Version}.uf2)
  add_custom_command(OUTPUT ${TW_BUILT_IN_IMAGE}
    COMMAND ${TW_IMAGE_TOOL} --version ${TW_STAND_IN_Version} --program ${TW_STAND_IN_Program}
            --blocks ${blocks} --layout flash --out ${TW_BUILT_IN_IMAGE}
    COMMAND ${CMAKE_COMMAND} -DTW_IMAGE=${TW_BUILT_IN_IMAGE} -DTW_SHA256=${TW_STAND_IN_Sha256}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${TW_IMAGE_TOOL} ${TW_BUILT_IN_HEADER} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Generating the built-in firmware stand-in ${TW_STAND_IN_Version}")
endif()
add_custom_target(tw_firmware_image DEPENDS ${TW_BUILT_IN_IMAGE})

if(WIN32)
  set_property(GLOBAL APPEND PROPERTY TW_RC_EXTRA "200 RCDATA \"${TW_BUILT_IN_IMAGE}\"")
  set_property(GLOBAL APPEND PROPERTY TW_RC_FILES ${TW_BUILT_IN_IMAGE})
  set_property(GLOBAL APPEND PROPERTY TW_ASSET_TARGETS tw_firmware_image)
else()
  # Declared in assets/built_in_firmware.h.
  tw_embed(tw_assets builtInFirmwareImage ${TW_BUILT_IN_IMAGE})
endif()
