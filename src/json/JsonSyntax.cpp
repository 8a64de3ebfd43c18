#include "json/JsonSyntax.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include "text/Utf8.h"

namespace krlist {

namespace {

// The text of a token kept for a message: more than a message shows.
constexpr std::size_t kTokenTextKept = 256;

enum class Token : std::uint8_t {
  True,
  False,
  Null,
  String,
  Number,
  BeginArray,
  BeginObject,
  EndArray,
  EndObject,
  Colon,
  Comma,
  End,
  Error,
};

const char* nameOf(Token token) {
  switch (token) {
    case Token::True:
      return "true literal";
    case Token::False:
      return "false literal";
    case Token::Null:
      return "null literal";
    case Token::String:
      return "string literal";
    case Token::Number:
      return "number literal";
    case Token::BeginArray:
      return "'['";
    case Token::BeginObject:
      return "'{'";
    case Token::EndArray:
      return "']'";
    case Token::EndObject:
      return "'}'";
    case Token::Colon:
      return "':'";
    case Token::Comma:
      return "','";
    case Token::End:
      return "end of input";
    case Token::Error:
      break;
  }
  return "<parse error>";
}

// What each control character is called, and the short escape it has.
constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

std::string controlCharacterError(int c) {
  char text[96];
  const char* shortEscape = c == 0x08   ? " or \\b"
                            : c == 0x09 ? " or \\t"
                            : c == 0x0A ? " or \\n"
                            : c == 0x0C ? " or \\f"
                            : c == 0x0D ? " or \\r"
                                        : "";
  std::snprintf(text, sizeof text,
                "invalid string: control character U+%04X (%s) must be escaped to \\u%04X%s", c,
                kControlNames[c], c, shortEscape);
  return text;
}

// Reads one token at a time, as strictly as JSON is read here, keeping what
// a message says of it: its text as read (control characters as <U+XXXX>),
// the offset of the last byte read, and what is wrong with it.
class Lexer {
 public:
  Lexer(JsonSource& source, std::uint64_t lastValue) : source_(source), start_(lastValue) {}

  Token scan() {
    source_.skipWhitespace();
    number.clear();
    error.clear();
    badUtf8.reset();
    const int c = get();
    switch (c) {
      case '[':
        return Token::BeginArray;
      case ']':
        return Token::EndArray;
      case '{':
        return Token::BeginObject;
      case '}':
        return Token::EndObject;
      case ':':
        return Token::Colon;
      case ',':
        return Token::Comma;
      case 't':
        return literal("true", Token::True);
      case 'f':
        return literal("false", Token::False);
      case 'n':
        return literal("null", Token::Null);
      case '"':
        start_ = last;
        return string();
      case -1:
      case 0:  // a 0x00 byte ends the text as its end does
        return Token::End;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          start_ = last;
          return scanNumber(c);
        }
        return fail("invalid literal", c);
    }
  }

  std::string number;  // a number's whole text
  std::string error;
  std::uint64_t last = 0;                // the offset of the last byte read, or of the end
  std::uint64_t character = 0;           // where the character of that byte starts
  std::optional<std::uint64_t> badUtf8;  // where the bytes stopped being UTF-8

 private:
  // The next byte, as part of the token; -1 at the end of the text.
  int get() {
    last = source_.offset();
    character = last;
    if (source_.atEnd()) {
      return -1;
    }
    return static_cast<unsigned char>(source_.Take());
  }
  int peek() { return source_.atEnd() ? -1 : static_cast<unsigned char>(source_.Peek()); }

  // An error at byte `c`, just read. A byte past ASCII there is read with
  // the rest of its character, so that a message shows the character whole;
  // when it starts none, the text is not UTF-8, and that is the error.
  Token fail(const char* message, int c) {
    error = message;
    if (c >= 0x80) {
      (void)restOfCharacter(c, last);
    }
    return Token::Error;
  }

 public:
  // The text read of the token, to its last byte, as a message shows it:
  // control characters as <U+XXXX>. A string or a number is read from its
  // start; anything else is shown with all that was read since the start of
  // the last string or number, whitespace and punctuation included.
  std::string textRead() const {
    std::string shown;
    for (const char byte : source_.keptText(start_, last + 1).substr(0, kTokenTextKept)) {
      const auto c = static_cast<unsigned char>(byte);
      if (c <= 0x1F) {
        char escaped[9];
        std::snprintf(escaped, sizeof escaped, "<U+%.4X>", c);
        shown += escaped;
      } else {
        shown.push_back(byte);
      }
    }
    return shown;
  }

 private:
  Token literal(const char* word, Token token) {
    for (const char* expected = word + 1; *expected != '\0'; ++expected) {
      const int c = get();
      if (c != *expected) {
        return fail("invalid literal", c);
      }
    }
    return token;
  }

  Token scanNumber(int first) {
    number.push_back(static_cast<char>(first));
    const auto isDigit = [](int c) { return c >= '0' && c <= '9'; };
    const auto take = [&] { number.push_back(static_cast<char>(get())); };
    const auto failOnNext = [&](const char* message) { return fail(message, get()); };
    if (first == '-') {
      if (!isDigit(peek())) {
        return failOnNext("invalid number; expected digit after '-'");
      }
      first = peek();
      take();
    }
    if (first != '0') {
      while (isDigit(peek())) {
        take();
      }
    }
    if (peek() == '.') {
      take();
      if (!isDigit(peek())) {
        return failOnNext("invalid number; expected digit after '.'");
      }
      while (isDigit(peek())) {
        take();
      }
    }
    if (peek() == 'e' || peek() == 'E') {
      take();
      if (peek() == '+' || peek() == '-') {
        take();
        if (!isDigit(peek())) {
          return failOnNext("invalid number; expected digit after exponent sign");
        }
      } else if (!isDigit(peek())) {
        return failOnNext("invalid number; expected '+', '-', or digit after exponent");
      }
      while (isDigit(peek())) {
        take();
      }
    }
    last = source_.offset() - 1;
    return Token::Number;
  }

  // Four hexadecimal digits after "\u"; -1 at a byte that is not one.
  int codepoint() {
    int value = 0;
    for (int i = 0; i < 4; ++i) {
      const int c = get();
      int digit = -1;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      }
      if (digit < 0) {
        if (c >= 0x80) {
          (void)restOfCharacter(c, last);
        }
        return -1;
      }
      value = value << 4 | digit;
    }
    return value;
  }

  // Reads the rest of the character whose first byte, `lead` (at offset
  // `leadAt`), was just taken: the continuation bytes that follow, as far as
  // a character can take them. False, with the place of the lead byte kept,
  // when they make no well-formed character (text/Utf8.h says which do).
  bool restOfCharacter(int lead, std::uint64_t leadAt) {
    char bytes[4] = {static_cast<char>(lead)};
    std::size_t length = 1;
    while (readUtf8(std::string_view(bytes, length), 0).length == 0 && length < sizeof bytes &&
           (peek() & 0xC0) == 0x80) {
      last = source_.offset();
      bytes[length++] = source_.Take();
    }
    if (readUtf8(std::string_view(bytes, length), 0).length != length) {
      badUtf8 = leadAt;
      return false;
    }
    return true;
  }

  Token string() {
    static constexpr const char* kHexDigits =
        "invalid string: '\\u' must be followed by 4 hex digits";
    static constexpr const char* kLowAfterHigh =
        "invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF";
    for (;;) {
      const int c = get();
      const std::uint64_t lead = last;
      if (c == -1) {
        error = "invalid string: missing closing quote";
        return Token::Error;
      }
      if (c == '"') {
        return Token::String;
      }
      if (c == '\\') {
        const int escaped = get();
        switch (escaped) {
          case '"':
          case '\\':
          case '/':
          case 'b':
          case 'f':
          case 'n':
          case 'r':
          case 't':
            continue;
          case 'u': {
            const int first = codepoint();
            if (first < 0) {
              error = kHexDigits;
              return Token::Error;
            }
            if (first >= 0xD800 && first <= 0xDBFF) {
              if (get() != '\\' || get() != 'u') {
                error = kLowAfterHigh;
                return Token::Error;
              }
              const int second = codepoint();
              if (second < 0) {
                error = kHexDigits;
                return Token::Error;
              }
              if (second < 0xDC00 || second > 0xDFFF) {
                error = kLowAfterHigh;
                return Token::Error;
              }
            } else if (first >= 0xDC00 && first <= 0xDFFF) {
              error = "invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF";
              return Token::Error;
            }
            continue;
          }
          default:
            return fail("invalid string: forbidden character after backslash", escaped);
        }
      }
      if (c < 0x20) {
        error = controlCharacterError(c);
        return Token::Error;
      }
      if (c < 0x80) {
        continue;
      }
      if (!restOfCharacter(c, lead)) {
        error = "invalid string: ill-formed UTF-8 byte";
        return Token::Error;
      }
    }
  }

  JsonSource& source_;
  std::uint64_t start_;  // where the last string or number started
};

}  // namespace

std::optional<JsonSyntaxError> findSyntaxError(JsonSource& source, JsonNext next,
                                               std::uint64_t lastValue) {
  Lexer lexer(source, lastValue);
  for (;;) {
    const Token token = lexer.scan();
    const auto report = [&](const char* context, const char* expected) {
      JsonSyntaxError found;
      found.message = std::string("syntax error while parsing ") + context + " - ";
      if (token == Token::Error) {
        found.message += lexer.error + "; last read: '" + lexer.textRead() + "'";
      } else {
        found.message += std::string("unexpected ") + nameOf(token);
      }
      if (expected != nullptr) {
        found.message += std::string("; expected ") + expected;
      }
      if (lexer.badUtf8) {
        // The bytes read are not UTF-8 (a file in a legacy code page, or in
        // UTF-16): they are not repeated, and the place is where the
        // sequence they break began.
        found.message = "invalid UTF-8";
      }
      found.place = source.placeOf(lexer.badUtf8 ? *lexer.badUtf8 : lexer.character);
      return std::optional<JsonSyntaxError>(std::move(found));
    };
    switch (next) {
      case JsonNext::Value:
      case JsonNext::ValueOrEnd:
        if (token == Token::Error) {
          return report("value", nullptr);
        }
        if (token == Token::Number) {
          if (!overflowsDouble(lexer.number)) {
            return std::nullopt;
          }
          JsonSyntaxError found;
          found.place = source.placeOf(lexer.last);
          found.numberOverflow = true;
          found.number = std::move(lexer.number);
          return found;
        }
        if (token == Token::End || token == Token::EndObject || token == Token::Colon ||
            token == Token::Comma || (token == Token::EndArray && next == JsonNext::Value)) {
          return report("value", "'[', '{', or a literal");
        }
        return std::nullopt;
      case JsonNext::KeyOrEnd:
      case JsonNext::Key:
        if (token == Token::String) {
          next = JsonNext::Colon;
          continue;
        }
        if (token == Token::EndObject && next == JsonNext::KeyOrEnd) {
          return std::nullopt;
        }
        return report("object key", "string literal");
      case JsonNext::Colon:
        if (token == Token::Colon) {
          next = JsonNext::Value;
          continue;
        }
        return report("object separator", "':'");
      case JsonNext::ArrayNext:
        if (token == Token::Comma) {
          next = JsonNext::Value;
          continue;
        }
        if (token == Token::EndArray) {
          return std::nullopt;
        }
        return report("array", "']'");
      case JsonNext::ObjectNext:
        if (token == Token::Comma) {
          next = JsonNext::Key;
          continue;
        }
        if (token == Token::EndObject) {
          return std::nullopt;
        }
        return report("object", "'}'");
      case JsonNext::End:
        if (token == Token::End) {
          return std::nullopt;
        }
        return report("value", "end of input");
    }
  }
}

bool overflowsDouble(std::string_view number) {
  const char* end = number.data() + number.size();
  double value = 0;
  const std::from_chars_result read = std::from_chars(number.data(), end, value);
  if (read.ec != std::errc::result_out_of_range) {
    return false;
  }
  // Out of range: too large, or too close to zero, by its decimal exponent.
  std::size_t at = number[0] == '-' ? 1 : 0;
  std::int64_t integerDigits = 0;
  std::int64_t leadingZeros = 0;
  bool nonZero = false;
  for (; at < number.size() && number[at] >= '0' && number[at] <= '9'; ++at) {
    nonZero = nonZero || number[at] != '0';
    integerDigits += nonZero;
  }
  if (at < number.size() && number[at] == '.') {
    for (++at; at < number.size() && number[at] >= '0' && number[at] <= '9'; ++at) {
      if (!nonZero && number[at] == '0') {
        ++leadingZeros;
      }
      nonZero = nonZero || number[at] != '0';
    }
  }
  std::int64_t exponent = 0;
  if (at < number.size() && (number[at] == 'e' || number[at] == 'E')) {
    ++at;
    const bool negative = at < number.size() && number[at] == '-';
    at += at < number.size() && (number[at] == '-' || number[at] == '+');
    for (; at < number.size(); ++at) {
      exponent = std::min<std::int64_t>(exponent * 10 + (number[at] - '0'),
                                        std::numeric_limits<std::int32_t>::max());
    }
    exponent = negative ? -exponent : exponent;
  }
  const std::int64_t decimalExponent =
      (integerDigits > 0 ? integerDigits - 1 : -(leadingZeros + 1)) + exponent;
  return nonZero && decimalExponent > 0;
}

}  // namespace krlist
