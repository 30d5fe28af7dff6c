# Files the tests read at run time (real firmware files from the RP2350 toolchain), found through
# the source tree so that a test names them by their path under tests/data.
if(TARGET tw_tests)
  target_compile_definitions(tw_tests PRIVATE TW_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
endif()
