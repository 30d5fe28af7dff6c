// headerValue over arbitrary request bytes: the value must come from the request and respect the
// capacity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::size_t capacity = data[0] % 140;
  std::string request(reinterpret_cast<const char*>(data + 1), size - 1);
  for (const char* name : {"Host", "Origin", "X-TW-Key", "Content-Length"}) {
    std::string value;
    if (tw::headerValue(request, name, value, capacity)) {
      if (capacity > 0 && value.size() > capacity - 1) std::abort();
      if (value.find_first_of("\r\n") != std::string::npos) std::abort();
      if (request.find(value) == std::string::npos) std::abort();
    }
  }
  return 0;
}
