# The firmware image built into the program. tools/make_firmware_image.cpp writes it; its
# version, program name, size and SHA-256 are constants in src/firmware/built_in_image.h, and the
# build stops when the generated file no longer has that digest.
#
# Run as a script (cmake -DTW_IMAGE=... -DTW_HEADER=... -P firmware_image.cmake) it only checks
# the digest.

function(tw_read_built_in_constants header)
  file(READ ${header} text)
  foreach(name Version Program Sha256)
    if(NOT text MATCHES "kBuiltInImage${name}\\[\\] =[ \t\r\n]*\"([^\"]*)\"")
      message(FATAL_ERROR "kBuiltInImage${name} not found in ${header}")
    endif()
    set(TW_BUILT_IN_${name} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endforeach()
  if(NOT text MATCHES "kBuiltInImageSize = ([0-9]+);")
    message(FATAL_ERROR "kBuiltInImageSize not found in ${header}")
  endif()
  set(TW_BUILT_IN_Size ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  tw_read_built_in_constants(${TW_HEADER})
  file(SHA256 ${TW_IMAGE} actual)
  if(NOT actual STREQUAL TW_BUILT_IN_Sha256)
    file(REMOVE ${TW_IMAGE})
    message(FATAL_ERROR "The generated firmware image ${TW_IMAGE} has SHA-256 ${actual}, but "
      "src/firmware/built_in_image.h expects ${TW_BUILT_IN_Sha256}. Update the constant only "
      "when the image is meant to change.")
  endif()
  return()
endif()

set(TW_BUILT_IN_HEADER ${PROJECT_SOURCE_DIR}/src/firmware/built_in_image.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TW_BUILT_IN_HEADER})
tw_read_built_in_constants(${TW_BUILT_IN_HEADER})
math(EXPR TW_BUILT_IN_BLOCKS "${TW_BUILT_IN_Size} / 512")

# The generator runs on the build machine, so it is compiled with the host's compiler even when
# the program itself is cross-compiled.
if(CMAKE_CROSSCOMPILING)
  find_program(TW_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
else()
  set(TW_HOST_CXX ${CMAKE_CXX_COMPILER})
endif()
set(TW_IMAGE_TOOL ${CMAKE_BINARY_DIR}/tools/make_firmware_image)
set(TW_IMAGE_TOOL_SOURCE ${PROJECT_SOURCE_DIR}/tools/make_firmware_image.cpp)
add_custom_command(OUTPUT ${TW_IMAGE_TOOL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
  COMMAND ${TW_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -o ${TW_IMAGE_TOOL}
          ${TW_IMAGE_TOOL_SOURCE}
  DEPENDS ${TW_IMAGE_TOOL_SOURCE}
  COMMENT "Building the firmware image generator with the host compiler")

set(TW_BUILT_IN_IMAGE
    ${TW_GENERATED_DIR}/${TW_BUILT_IN_Program}-${TW_BUILT_IN_Version}.uf2)
add_custom_command(OUTPUT ${TW_BUILT_IN_IMAGE}
  COMMAND ${TW_IMAGE_TOOL} --version ${TW_BUILT_IN_Version} --program ${TW_BUILT_IN_Program}
          --blocks ${TW_BUILT_IN_BLOCKS} --layout flash --out ${TW_BUILT_IN_IMAGE}
  COMMAND ${CMAKE_COMMAND} -DTW_IMAGE=${TW_BUILT_IN_IMAGE} -DTW_HEADER=${TW_BUILT_IN_HEADER}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${TW_IMAGE_TOOL} ${TW_BUILT_IN_HEADER} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Generating the built-in firmware image ${TW_BUILT_IN_Version}")
add_custom_target(tw_firmware_image DEPENDS ${TW_BUILT_IN_IMAGE})

if(WIN32)
  set_property(GLOBAL APPEND PROPERTY TW_RC_EXTRA "200 RCDATA \"${TW_BUILT_IN_IMAGE}\"")
  set_property(GLOBAL APPEND PROPERTY TW_ASSET_TARGETS tw_firmware_image)
else()
  # Declared in assets/built_in_firmware.h.
  tw_embed(tw_assets builtInFirmwareImage ${TW_BUILT_IN_IMAGE})
endif()
