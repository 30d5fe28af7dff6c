# OpenSSL's libcrypto on Linux: the signature adapter (tw_host) checks release signatures with it,
# the simulated update host (tw_sim) signs its releases with the development key, and the tests
# and the benchmark compare the system's own SHA-256 with it.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(tw_host PUBLIC OpenSSL::Crypto)
target_link_libraries(tw_sim PUBLIC OpenSSL::Crypto)

# The private half of the development key, for the simulated host to sign with. Test-only: it
# exists in Linux builds, which all trust the development key anyway.
set(TW_DEV_SIGNING_KEY ${PROJECT_SOURCE_DIR}/tests/keys/development_release_key.TEST-ONLY.pem)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TW_DEV_SIGNING_KEY})
file(READ ${TW_DEV_SIGNING_KEY} TW_DEV_SIGNING_PEM)
file(CONFIGURE OUTPUT ${TW_GENERATED_DIR}/sim_keys/development_signing_key.h CONTENT
"// Generated from tests/keys/development_release_key.TEST-ONLY.pem. TEST ONLY.
#pragma once

namespace tw::sim {

inline constexpr char kDevelopmentSigningKeyPem[] = R\"pem(${TW_DEV_SIGNING_PEM})pem\";

}  // namespace tw::sim
")
target_include_directories(tw_sim PRIVATE ${TW_GENERATED_DIR}/sim_keys)

# Every Linux program is a test build: it trusts the development key.
if(TARGET tw_host_app)
  target_link_libraries(tw_host_app PUBLIC tw_trusted_key_development OpenSSL::Crypto)
endif()
foreach(target tarnwick tw_tests)
  if(TARGET ${target})
    target_link_libraries(${target} PRIVATE tw_trusted_key_development OpenSSL::Crypto)
  endif()
endforeach()
if(TARGET tw_tests)
  target_link_libraries(tw_tests PRIVATE tw_release_keys)
endif()
foreach(src ${TW_BENCH_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  if(TARGET ${name})
    target_link_libraries(${name} PRIVATE tw_trusted_key_development OpenSSL::Crypto)
  endif()
endforeach()
