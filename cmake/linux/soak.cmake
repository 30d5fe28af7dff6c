# tw_soak: seeded random histories of the whole Linux program on virtual time (tests/soak/), in
# the sanitizer builds; tools/soak.sh and ./test.sh run it.
if(NOT TW_FUZZ)
  add_library(tw_soak_lib STATIC
    ${PROJECT_SOURCE_DIR}/tests/soak/soak_history.cpp
    ${PROJECT_SOURCE_DIR}/tests/soak/soak_flash.cpp
    ${PROJECT_SOURCE_DIR}/tests/soak/soak_invariants.cpp
    ${PROJECT_SOURCE_DIR}/tests/soak/soak_streams.cpp
    ${PROJECT_SOURCE_DIR}/tests/soak/soak_driver.cpp)
  target_include_directories(tw_soak_lib PUBLIC ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(tw_soak_lib PUBLIC tw_host_app tw_core tw_sim tw_host tw_assets)
  add_executable(tw_soak ${PROJECT_SOURCE_DIR}/tests/soak/soak_main.cpp)
  target_link_libraries(tw_soak PRIVATE tw_soak_lib)
  # The soak's own checks are tested with the other tests.
  if(TARGET tw_tests)
    target_link_libraries(tw_tests PRIVATE tw_soak_lib)
  endif()
endif()
