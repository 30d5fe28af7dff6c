// headerValue and headerCount over arbitrary request bytes: the value must come from the request
// and respect the capacity, and a header is found exactly when it is counted. Over a request's
// head alone (splitRequest), nothing may come from the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/http_text.h"
#include "panel/request_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::size_t capacity = data[0] % 140;
  std::string request(reinterpret_cast<const char*>(data + 1), size - 1);
  const tw::RequestParts parts = tw::splitRequest(request);
  if (parts.head.size() + parts.body.size() + (parts.headEnded ? 4 : 0) != request.size()) {
    std::abort();
  }
  if (parts.head.find("\r\n\r\n") != std::string_view::npos) std::abort();
  for (const char* name : {"Host", "Origin", "X-TW-Key", "Content-Length"}) {
    for (std::string_view text : {std::string_view(request), parts.head}) {
      std::string value;
      const bool found = tw::headerValue(text, name, value, capacity);
      if (found != (tw::headerCount(text, name) > 0)) std::abort();
      if (!found) continue;
      if (capacity > 0 && value.size() > capacity - 1) std::abort();
      if (value.find_first_of("\r\n") != std::string::npos) std::abort();
      if (text.find(value) == std::string_view::npos) std::abort();
    }
  }
  return 0;
}
