// jsonParse over arbitrary bytes, then every lookup over every token it produced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "firmware/json_reader.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  tw::JsonToken tokens[96];
  const int count = tw::jsonParse(text, size, tokens, 96);
  check(count == -1 || (count >= 1 && count <= 96));
  if (count < 1) return 0;
  check(tokens[0].next == count);

  for (int i = 0; i < count; ++i) {
    const tw::JsonToken& t = tokens[i];
    check(t.type >= tw::JSON_OBJECT && t.type <= tw::JSON_PRIMITIVE);
    check(0 <= t.start && t.start <= t.end && static_cast<std::size_t>(t.end) <= size);
    check(t.next > i && t.next <= count);
    check(t.type <= tw::JSON_ARRAY || (t.size == 0 && t.next == i + 1));

    char small[7], large[300];
    check(tw::jsonUnescape(text, tokens, count, i, small, sizeof small) ==
          (t.type == tw::JSON_STRING ? 1 : 0));
    check(std::strlen(small) < sizeof small);
    tw::jsonUnescape(text, tokens, count, i, large, sizeof large);
    check(std::strlen(large) < sizeof large);
    tw::jsonGetNumber(text, tokens, count, i);

    if (t.type == tw::JSON_ARRAY) {
      int previous = i;
      for (int n = 0; n < t.size; ++n) {
        const int item = tw::jsonArrayItem(tokens, count, i, n);
        check(item > previous && item < t.next);
        previous = item;
      }
      check(tw::jsonArrayItem(tokens, count, i, t.size) == -1);
    }
    if (t.type == tw::JSON_OBJECT && t.size > 0) {
      // Look up the first member's own key when it is short and written plainly.
      const tw::JsonToken& key = tokens[i + 1];
      char name[32];
      const int length = key.end - key.start;
      if (length < static_cast<int>(sizeof name)) {
        std::memcpy(name, text + key.start, static_cast<std::size_t>(length));
        name[length] = '\0';
        if (std::strchr(name, '\\') == nullptr &&
            std::strlen(name) == static_cast<std::size_t>(length)) {
          check(tw::jsonFindKey(text, tokens, count, i, name) == i + 2);
        }
      }
      for (const char* probe : {"a", "builds", "version", ""}) {
        const int value = tw::jsonFindKey(text, tokens, count, i, probe);
        check(value == -1 || (value > i && value < t.next));
        char out[11];
        tw::jsonGetString(text, tokens, count, i, probe, out, sizeof out);
        const std::size_t n = std::strlen(out);
        check(n < sizeof out);
        for (std::size_t k = 0; k < n; ++k) {
          const unsigned char c = static_cast<unsigned char>(out[k]);
          check(c >= 0x20 && c != 0x7F);
        }
      }
    }
  }
  return 0;
}
