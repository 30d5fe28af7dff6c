# Build-time assets. Generated files land in ${TW_GENERATED_DIR}; tools/ holds their generators.
set(TW_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${TW_GENERATED_DIR})
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# tw_embed(<target> <symbol> <file>): adds <file>'s bytes to <target> as
#   extern const unsigned char <symbol>[]; extern const size_t <symbol>Size;
function(tw_embed target symbol file)
  set(out ${TW_GENERATED_DIR}/embed_${symbol}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/embed_file.py ${file} ${symbol} ${out}
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/tools/embed_file.py
    COMMENT "Embedding ${symbol}")
  target_sources(${target} PRIVATE ${out})
endfunction()

# The three tray icons (1 connected, 2 no dongle, 3 battery low), drawn by a script.
set(TW_ICON_FILES ${TW_GENERATED_DIR}/icon1.ico ${TW_GENERATED_DIR}/icon2.ico ${TW_GENERATED_DIR}/icon3.ico)
add_custom_command(OUTPUT ${TW_ICON_FILES}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_icons.py ${TW_GENERATED_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_icons.py
  COMMENT "Drawing the tray icons")
add_custom_target(tw_icons DEPENDS ${TW_ICON_FILES})

# Read-only data linked into both programs (the page and the firmware image join it later).
add_library(tw_assets STATIC ${PROJECT_SOURCE_DIR}/assets/assets.cpp)
target_include_directories(tw_assets PUBLIC ${PROJECT_SOURCE_DIR}/assets)

# Asset modules may add Windows resource lines and their generating targets:
#   set_property(GLOBAL APPEND PROPERTY TW_RC_EXTRA "200 RCDATA \"<file>\"")
#   set_property(GLOBAL APPEND PROPERTY TW_RC_FILES <file>)   (so the program is rebuilt with it)
#   set_property(GLOBAL APPEND PROPERTY TW_ASSET_TARGETS <target>)
# Each asset group (page, firmware image, ...) adds itself from its own file here.
file(GLOB TW_ASSET_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/assets/*.cmake)
foreach(module ${TW_ASSET_MODULES})
  include(${module})
endforeach()
