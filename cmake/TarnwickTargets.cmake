# Libraries and programs. Sources are picked up by folder so that adding a file to a
# subsystem needs no edit here.
#
# Each subsystem is its own library and sees only the headers of what it may use: its include
# folder under build/include holds a link to its own source folder, and it gets the folders of
# its dependencies through their usage requirements. An include the wrong way round (the panel
# reaching into the tray, the simulated world into the system) therefore fails to compile.

find_package(Threads REQUIRED)
set(TW_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

# tw_link_folder(<include folder> <name inside it> <what it points at>)
function(tw_link_folder root name target)
  get_filename_component(parent ${root}/${name} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${target} ${root}/${name} SYMBOLIC)
endfunction()

# The ports: the interfaces in src/platform/*.h, without the adapters beside them.
add_library(tw_ports INTERFACE)
file(GLOB TW_PORT_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/*.h)
file(REMOVE_RECURSE ${TW_INCLUDE_ROOT}/ports)
foreach(header ${TW_PORT_HEADERS})
  get_filename_component(name ${header} NAME)
  tw_link_folder(${TW_INCLUDE_ROOT}/ports platform/${name} ${header})
endforeach()
target_include_directories(tw_ports INTERFACE ${TW_INCLUDE_ROOT}/ports)

# tw_subsystem(<target> <folder under src> [DEPENDS <targets>...])
function(tw_subsystem target folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set(include ${TW_INCLUDE_ROOT}/${target})
  tw_link_folder(${include} ${folder} ${PROJECT_SOURCE_DIR}/src/${folder})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${include})
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS} Threads::Threads)
endfunction()

# The system: portable C++ that reaches the outside world only through the ports.
tw_subsystem(tw_common common)
tw_subsystem(tw_dongle dongle DEPENDS tw_common tw_ports)
tw_subsystem(tw_firmware firmware DEPENDS tw_common tw_ports)
tw_subsystem(tw_flash flash DEPENDS tw_firmware tw_dongle tw_common tw_ports)
# Clang checks that the firmware state is touched only under its lock (common/thread_safety.h);
# other compilers build the same code without the check.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(tw_flash PRIVATE -Wthread-safety)
endif()
tw_subsystem(tw_panel panel DEPENDS tw_flash tw_dongle tw_common tw_ports)
tw_subsystem(tw_app app DEPENDS tw_panel tw_flash tw_firmware tw_dongle tw_common tw_ports)

# Everything of the system, for the programs, tests, fuzzers and benchmarks.
add_library(tw_core INTERFACE)
target_link_libraries(tw_core INTERFACE tw_app tw_panel tw_flash tw_firmware tw_dongle tw_common
  tw_ports)

# The update host, and what a product build may name (checked before anything is generated).
include(${PROJECT_SOURCE_DIR}/cmake/TarnwickUpdateHost.cmake)

# Assets the program carries (tray icons, the page and the firmware image).
include(${PROJECT_SOURCE_DIR}/cmake/TarnwickAssets.cmake)

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/TarnwickWindows.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/TarnwickLinux.cmake)
endif()
