# OpenSSL's libcrypto is only a yardstick for the system's own SHA-256: the tests compare digests
# with it and the benchmark compares speed. The program itself doesn't link it for this.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
foreach(target tw_tests firmware_image_bench)
  if(TARGET ${target})
    target_link_libraries(${target} PRIVATE OpenSSL::Crypto)
  endif()
endforeach()
