# The update host the firmware side talks to. Test builds may set it to "localhost".
set(TW_UPDATE_HOST "updates.tarnwick.example" CACHE STRING "Host name of the firmware update server")
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/firmware/update_host.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TW_UPDATE_HOST=\"${TW_UPDATE_HOST}\"")
