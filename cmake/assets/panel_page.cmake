# The control panel page: the sources under assets/panel/ inlined into one self-contained HTML
# file, embedded into both programs as twPanelPage / twPanelPageSize.
file(GLOB TW_PANEL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/assets/panel/*)
set(TW_PANEL_PAGE ${TW_GENERATED_DIR}/panel_page.html)
add_custom_command(OUTPUT ${TW_PANEL_PAGE}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/inline_page.py
    ${PROJECT_SOURCE_DIR}/assets/panel/page.html ${TW_PANEL_PAGE}
  DEPENDS ${TW_PANEL_SOURCES} ${PROJECT_SOURCE_DIR}/tools/inline_page.py
  COMMENT "Building the panel page")
add_custom_target(tw_panel_page DEPENDS ${TW_PANEL_PAGE})
tw_embed(tw_assets twPanelPage ${TW_PANEL_PAGE})
