# The release public key the program trusts: a 72-byte CNG "ECS1" blob built in as a constant.
#
#   release      the vendor's key (assets/keys/release_key.ecs1.hex); its private half is not in
#                this repository. Tarnwick.exe carries it unless told otherwise.
#   development  the test key pair under tests/keys: the simulated update host and the Wine tests
#                sign with its private half. Only test builds trust it: the Linux app, the tests
#                and the Windows test programs.
#
# TW_RELEASE_KEY chooses the key of Tarnwick.exe. A product build (one given TW_FIRMWARE_FILE)
# refuses the development key.
#
# Each key is a header release_key_<name>.h (tw::release_keys::k<Name>) in tw_release_keys, and
# each choice a library tw_trusted_key_<name> whose trusted_release_key.h names it
# tw::build::kTrustedReleaseKey; a program links exactly one of those.

set(TW_RELEASE_KEY "release" CACHE STRING
  "The release key Tarnwick.exe trusts: release (the vendor's) or development (test builds)")
set_property(CACHE TW_RELEASE_KEY PROPERTY STRINGS release development)
if(NOT TW_RELEASE_KEY MATCHES "^(release|development)$")
  message(FATAL_ERROR "TW_RELEASE_KEY is \"${TW_RELEASE_KEY}\"; it must be release or development")
endif()
if(TW_FIRMWARE_FILE AND NOT TW_RELEASE_KEY STREQUAL "release")
  message(FATAL_ERROR "A product build (TW_FIRMWARE_FILE is set) trusts the vendor's release key "
    "only; TW_RELEASE_KEY=${TW_RELEASE_KEY} is for test builds.")
endif()

set(TW_RELEASE_KEYS_DIR ${TW_GENERATED_DIR}/release_keys)
add_library(tw_release_keys INTERFACE)
target_include_directories(tw_release_keys INTERFACE ${TW_RELEASE_KEYS_DIR})

# tw_release_key(<name> <Name> <hex file>)
function(tw_release_key name symbol hexFile)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hexFile})
  file(READ ${hexFile} hex)
  string(STRIP "${hex}" hex)
  string(TOLOWER "${hex}" hex)
  if(NOT hex MATCHES "^4543533120000000[0-9a-f]+$")
    message(FATAL_ERROR "${hexFile} must hold one P-256 public key blob in hexadecimal "
      "(\"ECS1\", the key length 32, X and Y)")
  endif()
  string(LENGTH "${hex}" digits)
  if(NOT digits EQUAL 144)
    message(FATAL_ERROR "${hexFile} holds ${digits} hexadecimal digits; a key blob has 144")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){12})" "\\1\n    " bytes "${bytes}")
  file(CONFIGURE OUTPUT ${TW_RELEASE_KEYS_DIR}/release_key_${name}.h CONTENT
"// Generated from ${hexFile}.
#pragma once

#include <cstdint>

namespace tw::release_keys {

inline constexpr std::uint8_t k${symbol}[72] = {
    ${bytes}};

}  // namespace tw::release_keys
")
  set(trustedDir ${TW_GENERATED_DIR}/trusted_key_${name})
  file(CONFIGURE OUTPUT ${trustedDir}/trusted_release_key.h CONTENT
"// Generated: the release key this program trusts.
#pragma once

#include \"release_key_${name}.h\"

namespace tw::build {

inline constexpr const std::uint8_t (&kTrustedReleaseKey)[72] = release_keys::k${symbol};
inline constexpr char kTrustedReleaseKeyName[] = \"${name}\";

}  // namespace tw::build
")
  add_library(tw_trusted_key_${name} INTERFACE)
  target_include_directories(tw_trusted_key_${name} INTERFACE ${trustedDir})
  target_link_libraries(tw_trusted_key_${name} INTERFACE tw_release_keys)
endfunction()

tw_release_key(release Release ${PROJECT_SOURCE_DIR}/assets/keys/release_key.ecs1.hex)
tw_release_key(development Development
  ${PROJECT_SOURCE_DIR}/tests/keys/development_release_key.ecs1.hex)
