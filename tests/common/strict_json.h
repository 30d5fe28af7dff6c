// A strict reading of one JSON text, for tests and fuzz targets that must show an answer is valid
// JSON: the grammar of RFC 8259 with nothing lenient (no trailing commas, no bare words, no
// leading zeros, no control characters in strings, escapes as listed), well-formed UTF-8
// throughout, and paired surrogate escapes. Independent of the system's own JSON reader on
// purpose, so that a fault cannot hide by being on both sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tw::test {

class StrictJson {
 public:
  // True when `text` is exactly one JSON value with optional white space around it.
  bool parse(std::string_view text) {
    text_ = text;
    at_ = 0;
    depth_ = 0;
    topStrings_.clear();
    values_.clear();
    prefix_.clear();
    skipSpace();
    if (!value(true)) return false;
    skipSpace();
    return at_ == text_.size();
  }

  // The decoded string members of the top-level object of the last successful parse.
  const std::map<std::string, std::string>& topStrings() const { return topStrings_; }
  // Every member of every object, named by its path ("boot.program"): strings decoded, anything
  // else as its JSON text.
  const std::map<std::string, std::string>& values() const { return values_; }

  // Length of the well-formed UTF-8 character at text[at] (Unicode's table of well-formed byte
  // sequences: no overlong forms, no surrogates, nothing beyond U+10FFFF), or 0 when the bytes
  // there are not one.
  static std::size_t utf8Length(std::string_view text, std::size_t at) {
    if (at >= text.size()) return 0;
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(text[at + i]);
      if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
  }

 private:
  static constexpr int kMaxDepth = 64;

  bool more() const { return at_ < text_.size(); }
  unsigned char peek() const { return static_cast<unsigned char>(text_[at_]); }
  void skipSpace() {
    while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
  }
  bool leave() {
    --depth_;
    return true;
  }
  bool take(char c) {
    if (!more() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  bool value(bool top) {
    if (!more()) return false;
    switch (peek()) {
      case '{':
        return object(top);
      case '[':
        return array();
      case '"': {
        std::string ignored;
        return string(ignored);
      }
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number();
    }
  }

  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool object(bool top) {
    if (++depth_ > kMaxDepth) return false;
    ++at_;
    skipSpace();
    if (take('}')) return leave();
    for (;;) {
      skipSpace();
      std::string name;
      if (!more() || peek() != '"' || !string(name)) return false;
      skipSpace();
      if (!take(':')) return false;
      skipSpace();
      const std::string path = prefix_ + name;
      if (more() && peek() == '"') {
        std::string decoded;
        if (!string(decoded)) return false;
        if (top) topStrings_[name] = decoded;
        values_[path] = decoded;
      } else {
        const std::string outer = prefix_;
        const std::size_t start = at_;
        prefix_ = path + ".";
        const bool read = value(false);
        prefix_ = outer;
        if (!read) return false;
        values_[path] = std::string(text_.substr(start, at_ - start));
      }
      skipSpace();
      if (take('}')) return leave();
      if (!take(',')) return false;
    }
  }

  bool array() {
    if (++depth_ > kMaxDepth) return false;
    ++at_;
    skipSpace();
    if (take(']')) return leave();
    for (;;) {
      skipSpace();
      if (!value(false)) return false;
      skipSpace();
      if (take(']')) return leave();
      if (!take(',')) return false;
    }
  }

  bool digits() {
    std::size_t start = at_;
    while (more() && peek() >= '0' && peek() <= '9') ++at_;
    return at_ > start;
  }

  bool number() {
    take('-');
    if (take('0')) {
      // no leading zeros
    } else if (!more() || peek() < '1' || peek() > '9' || !digits()) {
      return false;
    }
    if (take('.') && !digits()) return false;
    if (more() && (peek() == 'e' || peek() == 'E')) {
      ++at_;
      if (more() && (peek() == '+' || peek() == '-')) ++at_;
      if (!digits()) return false;
    }
    return true;
  }

  static void putUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  // Four hexadecimal digits after "\u".
  bool hex4(std::uint32_t& cp) {
    if (at_ + 4 > text_.size()) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      int digit = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                           : -1;
      if (digit < 0) return false;
      cp = cp * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // One well-formed UTF-8 character of two to four bytes, copied to `out`.
  bool utf8Character(std::string& out) {
    const std::size_t length = utf8Length(text_, at_);
    if (length < 2) return false;
    out.append(text_.substr(at_, length));
    at_ += length;
    return true;
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      if (!more()) return false;
      const unsigned char c = peek();
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!utf8Character(out)) return false;
        continue;
      }
      ++at_;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (!more()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.push_back(e);
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          std::uint32_t cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return false;  // a low surrogate alone
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
              return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          putUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int depth_ = 0;
  std::map<std::string, std::string> topStrings_;
  std::map<std::string, std::string> values_;
  std::string prefix_;
};

}  // namespace tw::test
