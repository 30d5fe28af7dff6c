# The update host the firmware side fetches the release list and firmware files from, built in
# as a constant (src/firmware/update_host.cpp). Test builds keep the placeholder or name
# "localhost"; a product build (TW_FIRMWARE_FILE set) must be given the vendor's host, so that it
# never ships asking a name that no one serves, or that anyone could.

set(TW_UPDATE_HOST "updates.tarnwick.example" CACHE STRING
  "Host name of the firmware update server (product builds must set the vendor's)")

# A bare host name: it goes into a C string and into "https://<host>/firmware/".
set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
if(NOT TW_UPDATE_HOST MATCHES "^${label}(\\.${label})*$")
  message(FATAL_ERROR "TW_UPDATE_HOST is \"${TW_UPDATE_HOST}\"; it must be a host name alone "
    "(letters, digits, hyphens and dots; no scheme, port or path).")
endif()
string(LENGTH "${TW_UPDATE_HOST}" length)
if(length GREATER 253)
  message(FATAL_ERROR "TW_UPDATE_HOST is longer than a host name may be (253 characters).")
endif()

if(TW_FIRMWARE_FILE)
  string(TOLOWER "${TW_UPDATE_HOST}" host)
  # Names reserved for documentation and tests never reach the vendor's server.
  if(NOT host MATCHES "\\." OR host MATCHES "\\.(example|invalid|test|localhost|local)$"
     OR host MATCHES "(^|\\.)example\\.(com|net|org)$")
    message(FATAL_ERROR "A product build (TW_FIRMWARE_FILE is set) fetches firmware from the "
      "vendor's update host; TW_UPDATE_HOST=${TW_UPDATE_HOST} is a placeholder for test builds. "
      "Give the real one: -DTW_UPDATE_HOST=<host name>.")
  endif()
endif()

set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/firmware/update_host.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TW_UPDATE_HOST=\"${TW_UPDATE_HOST}\"")
