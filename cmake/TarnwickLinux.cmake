# The Linux side: the simulated world, the host adapters, the app, tests, fuzzers, benchmarks.

# The simulated world sees the ports and nothing of the system, so a bug cannot hide by being on
# both sides.
tw_subsystem(tw_sim sim DEPENDS tw_ports)
# The Linux adapters of the ports.
tw_subsystem(tw_host platform/host DEPENDS tw_ports)

if(NOT TW_FUZZ)
  # The console that stands in for the notification area and the one wiring of the Linux
  # program on the simulated world, which the app, the tests and the benchmarks all build.
  tw_subsystem(tw_host_app host_app DEPENDS tw_core tw_sim tw_host tw_assets)
  target_compile_definitions(tw_host_app PRIVATE TW_VERSION_TEXT="${TW_VERSION}")
  add_executable(tarnwick ${PROJECT_SOURCE_DIR}/src/main_host.cpp)
  target_link_libraries(tarnwick PRIVATE tw_host_app)

  enable_testing()
  find_package(GTest REQUIRED)
  file(GLOB_RECURSE TW_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*_test.cpp)
  list(FILTER TW_TEST_SOURCES EXCLUDE REGEX "/tests/(wine|browser)/")
  # Lets one person build just the tests of the area they work on, e.g. "/tests/(dongle|app)/".
  set(TW_TEST_ONLY "" CACHE STRING "Regular expression: build only the matching test files")
  if(TW_TEST_ONLY)
    list(FILTER TW_TEST_SOURCES INCLUDE REGEX "${TW_TEST_ONLY}")
  endif()
  # Threaded tests live in files named *_threaded_test.cpp. A ThreadSanitizer build is for them:
  # its tw_tests holds every test of those files and nothing else, labelled "threaded" for CTest.
  set(TW_TEST_DISCOVERY)
  if(TW_SANITIZE MATCHES "thread")
    list(FILTER TW_TEST_SOURCES INCLUDE REGEX "_threaded_test\\.cpp$")
    # Listed when CTest runs, not after each link, so the build never starts a sanitized program.
    set(TW_TEST_DISCOVERY DISCOVERY_MODE PRE_TEST PROPERTIES LABELS threaded)
  endif()
  add_executable(tw_tests ${TW_TEST_SOURCES})
  target_include_directories(tw_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(tw_tests PRIVATE tw_host_app GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(tw_tests DISCOVERY_TIMEOUT 60 ${TW_TEST_DISCOVERY})

  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    file(GLOB TW_BENCH_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_bench.cpp)
    foreach(src ${TW_BENCH_SOURCES})
      get_filename_component(name ${src} NAME_WE)
      add_executable(${name} ${src})
      target_link_libraries(${name} PRIVATE tw_host_app benchmark::benchmark)
    endforeach()
  endif()
else()
  file(GLOB TW_FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  foreach(src ${TW_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # Checks shared with the tests, such as the strict JSON reading of an answer.
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE tw_core tw_sim tw_assets)
  endforeach()
endif()

# Linux-only additions of each subsystem (tools, extra test programs) live in their own files.
file(GLOB TW_LINUX_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/linux/*.cmake)
foreach(module ${TW_LINUX_MODULES})
  include(${module})
endforeach()

# Includes the wrong way round, one per rule; tools/check_layers.sh builds each and expects it to
# fail, which shows that the libraries' include folders really keep the subsystems apart.
foreach(probe panel_includes_app:tw_panel sim_includes_common:tw_sim dongle_includes_flash:tw_dongle)
  string(REPLACE ":" ";" parts ${probe})
  list(GET parts 0 name)
  list(GET parts 1 library)
  add_library(tw_layer_${name} OBJECT EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tests/layers/${name}.cpp)
  target_link_libraries(tw_layer_${name} PRIVATE ${library})
endforeach()
