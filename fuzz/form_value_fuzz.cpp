// formValue over arbitrary query and body text: the decoded value never grows past the raw one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::size_t capacity = data[0] % 40;
  std::string source(reinterpret_cast<const char*>(data + 1), size - 1);
  for (const char* name : {"k", "id", "data", "action"}) {
    std::string value;
    if (tw::formValue(source, name, value, capacity)) {
      if (capacity > 0 && value.size() > capacity - 1) std::abort();
    } else if (!value.empty()) {
      std::abort();
    }
  }
  tw::parseDecimal(source);
  return 0;
}
