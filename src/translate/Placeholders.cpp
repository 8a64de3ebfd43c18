#include "translate/Placeholders.h"

#include <cstring>

namespace krlist {

namespace {

// How far a brace or angle bracket is looked for: further than any
// placeholder, short enough that prose holding a lone '{' or '<' is not
// searched to its end.
constexpr std::size_t kLongestField = 64;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::size_t digitsAt(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && isDigit(text[end])) {
    ++end;
  }
  return end - at;
}

// %[ARGUMENT$][FLAGS][WIDTH][.PRECISION][LENGTH]CONVERSION, or %%. The
// space flag is left out: "50% off" is prose, not "% o".
std::size_t printfAt(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  if (end < text.size() && text[end] == '%') {
    return 2;
  }
  if (const std::size_t digits = digitsAt(text, end);
      digits > 0 && end + digits < text.size() && text[end + digits] == '$') {
    end += digits + 1;
  }
  while (end < text.size() && std::strchr("-+#0", text[end]) != nullptr && text[end] != '\0') {
    ++end;
  }
  if (end < text.size() && text[end] == '*') {
    ++end;
  } else {
    end += digitsAt(text, end);
  }
  if (end < text.size() && text[end] == '.') {
    ++end;
    if (end < text.size() && text[end] == '*') {
      ++end;
    } else {
      end += digitsAt(text, end);
    }
  }
  while (end < text.size() && std::strchr("hlLqjzt", text[end]) != nullptr && text[end] != '\0') {
    ++end;
  }
  if (end < text.size() && text[end] != '\0' &&
      std::strchr("diouxXeEfFgGaAcspn", text[end]) != nullptr) {
    return end + 1 - at;
  }
  return 0;
}

// From `text[at]` to the first `close`, which must come before another
// `open`, a line feed, or kLongestField bytes.
std::size_t fieldAt(std::string_view text, std::size_t at, char open, char close) {
  for (std::size_t end = at + 1; end < text.size() && end - at < kLongestField; ++end) {
    if (text[end] == close) {
      return end + 1 - at;
    }
    if (text[end] == open || text[end] == '\n') {
      return 0;
    }
  }
  return 0;
}

}  // namespace

std::size_t placeholderAt(std::string_view text, std::size_t at) {
  switch (text[at]) {
    case '%':
      return printfAt(text, at);
    case '{':
      return fieldAt(text, at, '{', '}');
    case '<':
      if (at + 1 < text.size() && (isLetter(text[at + 1]) || text[at + 1] == '/')) {
        return fieldAt(text, at, '<', '>');
      }
      return 0;
    case '\\': {
      if (at + 1 >= text.size()) {
        return 0;
      }
      // The escaped character whole, whatever its length in UTF-8.
      std::size_t end = at + 2;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        ++end;
      }
      return end - at;
    }
    default:
      return 0;
  }
}

std::vector<std::string_view> findPlaceholders(std::string_view text) {
  std::vector<std::string_view> found;
  for (std::size_t at = 0; at < text.size();) {
    if (const std::size_t length = placeholderAt(text, at)) {
      found.push_back(text.substr(at, length));
      at += length;
    } else {
      ++at;
    }
  }
  return found;
}

}  // namespace krlist
