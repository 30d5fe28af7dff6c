#include "firmware/json_reader.h"

#include <cstdlib>
#include <cstring>

namespace tw {
namespace {

bool isJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void skipSpace(JsonParser& p) {
  while (p.position < p.length && isJsonSpace(p.text[p.position])) ++p.position;
}

// Index of a fresh token, or -1 when the capacity is used up.
int takeToken(JsonParser& p, std::int32_t type, std::int32_t start) {
  if (p.used >= p.capacity) return -1;
  p.tokens[p.used] = JsonToken{type, start, start, 0, -1};
  return p.used++;
}

// At the opening quote. Escapes are only checked here; jsonUnescape decodes them.
bool parseString(JsonParser& p) {
  const std::int32_t start = p.position + 1;
  for (std::int32_t i = start; i < p.length; ++i) {
    const unsigned char c = static_cast<unsigned char>(p.text[i]);
    if (c == '"') {
      int index = takeToken(p, JSON_STRING, start);
      if (index < 0) return false;
      p.tokens[index].end = i;
      p.tokens[index].next = p.used;
      p.position = i + 1;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') continue;
    if (i + 1 >= p.length) return false;
    const char escaped = p.text[i + 1];
    if (escaped == 'u') {
      if (i + 5 >= p.length) return false;
      for (int k = 2; k < 6; ++k) {
        if (hexValue(p.text[i + k]) < 0) return false;
      }
      i += 5;
    } else if (escaped != 0 && std::strchr("\"\\/bfnrt", escaped) != nullptr) {
      i += 1;
    } else {
      return false;
    }
  }
  return false;  // the text ended inside the string
}

bool parsePrimitive(JsonParser& p) {
  const std::int32_t start = p.position;
  std::int32_t i = start;
  for (; i < p.length; ++i) {
    const char c = p.text[i];
    if (c == ',' || c == ']' || c == '}' || isJsonSpace(c)) break;
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  const std::size_t length = static_cast<std::size_t>(i - start);
  if (length == 0) return false;
  const char* word = p.text + start;
  const bool keyword = (length == 4 && std::memcmp(word, "true", 4) == 0) ||
                       (length == 5 && std::memcmp(word, "false", 5) == 0) ||
                       (length == 4 && std::memcmp(word, "null", 4) == 0);
  if (!keyword && word[0] != '-' && !isDigit(word[0])) return false;
  int index = takeToken(p, JSON_PRIMITIVE, start);
  if (index < 0) return false;
  p.tokens[index].end = i;
  p.tokens[index].next = p.used;
  p.position = i;
  return true;
}

bool parseValue(JsonParser& p, int depth);

// At the opening brace or bracket.
bool parseContainer(JsonParser& p, int depth, bool object) {
  const char closer = object ? '}' : ']';
  const int index = takeToken(p, object ? JSON_OBJECT : JSON_ARRAY, p.position);
  if (index < 0) return false;
  ++p.position;
  skipSpace(p);
  if (p.position < p.length && p.text[p.position] == closer) {
    ++p.position;
  } else {
    for (;;) {
      skipSpace(p);
      if (object) {
        if (p.position >= p.length || p.text[p.position] != '"') return false;
        if (!parseString(p)) return false;
        skipSpace(p);
        if (p.position >= p.length || p.text[p.position] != ':') return false;
        ++p.position;
      }
      if (!parseValue(p, depth + 1)) return false;
      ++p.tokens[index].size;
      skipSpace(p);
      if (p.position >= p.length) return false;
      const char c = p.text[p.position++];
      if (c == ',') continue;
      if (c == closer) break;
      return false;
    }
  }
  p.tokens[index].end = p.position;
  p.tokens[index].next = p.used;
  return true;
}

bool parseValue(JsonParser& p, int depth) {
  if (depth > JSON_MAX_DEPTH) return false;
  skipSpace(p);
  if (p.position >= p.length) return false;
  switch (p.text[p.position]) {
    case '{':
      return parseContainer(p, depth, true);
    case '[':
      return parseContainer(p, depth, false);
    case '"':
      return parseString(p);
    default:
      return parsePrimitive(p);
  }
}

// Writes decoded bytes into a caller buffer of `capacity` bytes, keeping room for the terminator.
class Output {
 public:
  Output(char* out, std::size_t capacity) : out_(out), limit_(capacity - 1) {}

  // False when the output has ended.
  bool putByte(unsigned char byte) {
    if (length_ >= limit_) {
      ended_ = true;
      return false;
    }
    out_[length_++] = static_cast<char>(byte);
    return true;
  }

  // A character that no longer fits is left out; shorter ones after it may still fit.
  void putCodePoint(std::uint32_t cp) {
    unsigned char bytes[4];
    std::size_t n;
    if (cp < 0x80) {
      putByte(static_cast<unsigned char>(cp));
      return;
    } else if (cp < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    if (length_ + n > limit_) return;
    std::memcpy(out_ + length_, bytes, n);
    length_ += n;
  }

  bool ended() const { return ended_; }
  void finish() { out_[length_] = '\0'; }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t length_ = 0;
  bool ended_ = false;
};

// The code point of a \u escape at text[i] (the backslash), or -1 when there is none within
// `end`.
long unicodeEscapeAt(const char* text, std::int32_t i, std::int32_t end) {
  if (i + 6 > end || text[i] != '\\' || text[i + 1] != 'u') return -1;
  long value = 0;
  for (int k = 2; k < 6; ++k) {
    int digit = hexValue(text[i + k]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

}  // namespace

int jsonParse(const char* text, std::size_t length, JsonToken* tokens, int capacity) {
  if (text == nullptr || tokens == nullptr || capacity <= 0) return -1;
  if (length > 0x7FFFFFF0u) return -1;  // offsets are 32-bit
  JsonParser p{text, static_cast<std::int32_t>(length), 0, 0, capacity, tokens};
  if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) p.position = 3;
  if (!parseValue(p, 0)) return -1;
  skipSpace(p);
  if (p.position != p.length) return -1;
  return p.used;
}

int jsonFindKey(const char* text, const JsonToken* tokens, int count, int object, const char* key) {
  if (text == nullptr || tokens == nullptr || key == nullptr) return -1;
  if (object < 0 || object >= count) return -1;
  if (tokens[object].type != JSON_OBJECT || tokens[object].size <= 0) return -1;
  const std::size_t keyLength = std::strlen(key);
  int at = object + 1;
  for (std::int32_t member = 0; member < tokens[object].size; ++member) {
    const int value = at + 1;
    if (at < 0 || value >= count) return -1;
    const JsonToken& name = tokens[at];
    if (name.type == JSON_STRING && name.end - name.start == static_cast<std::int64_t>(keyLength) &&
        std::memcmp(text + name.start, key, keyLength) == 0) {
      return value;
    }
    // Step over the whole value, however deeply it nests.
    if (tokens[value].next <= value) return -1;
    at = tokens[value].next;
  }
  return -1;
}

int jsonArrayItem(const JsonToken* tokens, int count, int array, int n) {
  if (tokens == nullptr || array < 0 || array >= count) return -1;
  if (tokens[array].type != JSON_ARRAY || n < 0 || n >= tokens[array].size) return -1;
  int at = array + 1;
  for (int k = 0; k < n; ++k) {
    if (at < 0 || at >= count || tokens[at].next <= at) return -1;
    at = tokens[at].next;
  }
  if (at < 0 || at >= count) return -1;
  return at;
}

int jsonUnescape(const char* text, const JsonToken* tokens, int count, int index, char* out,
                 std::size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  out[0] = '\0';
  if (text == nullptr || tokens == nullptr || index < 0 || index >= count) return 0;
  const JsonToken& token = tokens[index];
  if (token.type != JSON_STRING) return 0;

  Output output(out, capacity);
  std::int32_t i = token.start;
  const std::int32_t end = token.end;
  while (i < end && !output.ended()) {
    const char c = text[i];
    if (c != '\\') {
      output.putByte(static_cast<unsigned char>(c));
      ++i;
      continue;
    }
    if (i + 1 >= end) break;
    const char escaped = text[i + 1];
    if (escaped != 'u') {
      unsigned char byte;
      switch (escaped) {
        case 'b':
          byte = 0x08;
          break;
        case 'f':
          byte = 0x0C;
          break;
        case 'n':
          byte = 0x0A;
          break;
        case 'r':
          byte = 0x0D;
          break;
        case 't':
          byte = 0x09;
          break;
        default:
          byte = static_cast<unsigned char>(escaped);
          break;
      }
      output.putByte(byte);
      i += 2;
      continue;
    }
    const long cp = unicodeEscapeAt(text, i, end);
    if (cp < 0) {
      // Only hand-made tokens get here: the tokenizer refuses a broken \u escape.
      output.putCodePoint(kReplacementCharacter);
      i += 2;
      continue;
    }
    if (cp == 0) {
      output.putByte(0);  // the decoded text ends at a zero byte
      break;
    }
    if (cp >= 0xD800 && cp < 0xDC00) {
      const long low = unicodeEscapeAt(text, i + 6, end);
      if (low >= 0xDC00 && low < 0xE000) {
        output.putCodePoint(0x10000 + ((static_cast<std::uint32_t>(cp) - 0xD800) << 10) +
                            (static_cast<std::uint32_t>(low) - 0xDC00));
        i += 12;
      } else {
        output.putCodePoint(kReplacementCharacter);
        i += 6;  // whatever follows is decoded on its own
      }
      continue;
    }
    if (cp >= 0xDC00 && cp < 0xE000) {
      output.putCodePoint(kReplacementCharacter);
    } else {
      output.putCodePoint(static_cast<std::uint32_t>(cp));
    }
    i += 6;
  }
  output.finish();
  return 1;
}

void jsonGetString(const char* text, const JsonToken* tokens, int count, int object,
                   const char* key, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  out[0] = '\0';
  const int value = jsonFindKey(text, tokens, count, object, key);
  if (value < 0 || tokens[value].type != JSON_STRING) return;
  char work[1024];
  if (!jsonUnescape(text, tokens, count, value, work, sizeof work)) return;
  std::size_t length = std::strlen(work);
  if (length > capacity - 1) {
    length = capacity - 1;
    auto isContinuation = [&](std::size_t at) {
      return (static_cast<unsigned char>(work[at]) & 0xC0) == 0x80;
    };
    if (isContinuation(length)) {
      // Drop the character the cut went through: its continuation bytes and its lead byte.
      while (length > 0 && isContinuation(length - 1)) --length;
      if (length > 0 && static_cast<unsigned char>(work[length - 1]) >= 0xC0) --length;
    }
  }
  for (std::size_t k = 0; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(work[k]);
    out[k] = (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  }
  out[length] = '\0';
}

double jsonGetNumber(const char* text, const JsonToken* tokens, int count, int index) {
  if (text == nullptr || tokens == nullptr || index < 0 || index >= count) return 0.0;
  const JsonToken& token = tokens[index];
  if (token.type != JSON_PRIMITIVE) return 0.0;
  const std::int32_t length = token.end - token.start;
  if (length < 1 || length > 47) return 0.0;
  const char* source = text + token.start;
  if (source[0] != '-' && !isDigit(source[0])) return 0.0;

  // Only the decimal form is a number here: strtod alone would also take hexadecimal, "inf" and
  // "nan" after the sign.
  char number[48];
  std::int32_t n = 0;
  if (source[n] == '-') ++n;
  bool digits = false;
  while (n < length && isDigit(source[n])) ++n, digits = true;
  if (n < length && source[n] == '.') {
    ++n;
    while (n < length && isDigit(source[n])) ++n, digits = true;
  }
  if (!digits) return 0.0;
  if (n < length && (source[n] == 'e' || source[n] == 'E')) {
    std::int32_t e = n + 1;
    if (e < length && (source[e] == '+' || source[e] == '-')) ++e;
    if (e < length && isDigit(source[e])) {
      while (e < length && isDigit(source[e])) ++e;
      n = e;
    }
  }
  std::memcpy(number, source, static_cast<std::size_t>(n));
  number[n] = '\0';
  return std::strtod(number, nullptr);
}

}  // namespace tw
