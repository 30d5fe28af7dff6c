// A small JSON reader without heap use: the tokenizer fills a caller-owned token array, and the
// lookups read values out of it. Text is referenced by byte offsets and never modified.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

enum JsonType : std::int32_t {
  JSON_OBJECT = 1,
  JSON_ARRAY = 2,
  JSON_STRING = 3,
  JSON_PRIMITIVE = 4,  // number, true, false, null
};

struct JsonToken {
  std::int32_t type;
  std::int32_t start;  // first byte; for a string, the byte after the opening quote
  std::int32_t end;    // one past the last byte; for a string, the closing quote
  std::int32_t size;   // members of an object, elements of an array, else 0
  std::int32_t next;   // first token after this token's subtree; -1 while the value is open
};

// The tokenizer's working state.
struct JsonParser {
  const char* text;
  std::int32_t length;
  std::int32_t position;
  std::int32_t used;
  std::int32_t capacity;
  JsonToken* tokens;
};

// Values nested deeper than this fail the parse (the top value has depth 0).
inline constexpr int JSON_MAX_DEPTH = 32;

// Tokenizes one complete document; returns the number of tokens used (at least 1) or -1.
int jsonParse(const char* text, std::size_t length, JsonToken* tokens, int capacity);

// Index of the value of the first member of object `object` whose raw key bytes equal `key`, or
// -1.
int jsonFindKey(const char* text, const JsonToken* tokens, int count, int object, const char* key);

// Index of element `n` of array `array`, or -1.
int jsonArrayItem(const JsonToken* tokens, int count, int array, int n);

// Decodes string token `index` into `out` (at most capacity - 1 bytes and a terminator). Returns
// 1, or 0 when the capacity is 0, the index is out of range or the token is not a string.
int jsonUnescape(const char* text, const JsonToken* tokens, int count, int index, char* out,
                 std::size_t capacity);

// The string value of member `key` of object `object`, decoded, with control characters made
// spaces and cut to `capacity` without leaving a broken UTF-8 sequence. Empty when the member is
// missing or not a string.
void jsonGetString(const char* text, const JsonToken* tokens, int count, int object,
                   const char* key, char* out, std::size_t capacity);

// The numeric value of primitive token `index` (decimal, optional fraction and exponent), or 0.0
// for anything that is not a number.
double jsonGetNumber(const char* text, const JsonToken* tokens, int count, int index);

}  // namespace tw
