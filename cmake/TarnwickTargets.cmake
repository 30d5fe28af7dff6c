# Libraries and programs. Sources are picked up by folder so that adding a file to a
# subsystem needs no edit here.

# The system: portable C++ that reaches the outside world only through src/platform/*.h.
file(GLOB_RECURSE TW_CORE_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/common/*.cpp
  ${PROJECT_SOURCE_DIR}/src/app/*.cpp
  ${PROJECT_SOURCE_DIR}/src/dongle/*.cpp
  ${PROJECT_SOURCE_DIR}/src/panel/*.cpp
  ${PROJECT_SOURCE_DIR}/src/firmware/*.cpp
  ${PROJECT_SOURCE_DIR}/src/flash/*.cpp)
add_library(tw_core STATIC ${TW_CORE_SOURCES})
target_include_directories(tw_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
find_package(Threads REQUIRED)
target_link_libraries(tw_core PUBLIC Threads::Threads)

# Assets the program carries (tray icons, and later the page and the firmware image).
include(${PROJECT_SOURCE_DIR}/cmake/TarnwickAssets.cmake)

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/TarnwickWindows.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/TarnwickLinux.cmake)
endif()
