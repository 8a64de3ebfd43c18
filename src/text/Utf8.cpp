#include "text/Utf8.h"

#include <cstdint>
#include <cstdio>

namespace krlist {

namespace {

bool isContinuation(std::uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Utf8Character readUtf8(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) {
    return {lead, 1};
  }
  std::size_t length = 0;
  char32_t character = 0;
  char32_t shortest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, character = lead & 0x1F, shortest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, character = lead & 0x0F, shortest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, character = lead & 0x07, shortest = 0x10000;
  }
  if (length == 0 || text.size() - at < length) {
    return {};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (!isContinuation(byte(at + i))) {
      return {};
    }
    character = character << 6 | (byte(at + i) & 0x3F);
  }
  if (character < shortest || (character >= 0xD800 && character <= 0xDFFF) ||
      character > 0x10FFFF) {
    return {};
  }
  return {character, length};
}

char32_t nextCharacter(std::string_view text, std::size_t& at) {
  const Utf8Character read = readUtf8(text, at);
  if (read.length == 0) {
    ++at;
    return U'\uFFFD';
  }
  at += read.length;
  return read.code;
}

std::size_t findInvalidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    // Most text is ASCII, and a byte below 0x80 is a whole character.
    if (static_cast<std::uint8_t>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const std::size_t length = readUtf8(text, at).length;
    if (length == 0) {
      return at;
    }
    at += length;
  }
  return std::string_view::npos;
}

std::u32string codePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    out.push_back(nextCharacter(text, at));
  }
  return out;
}

std::size_t appendUtf16AsUtf8(std::string_view bytes, bool bigEndian, std::string& utf8) {
  const auto unitAt = [bytes, bigEndian](std::size_t at) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  utf8.reserve(utf8.size() + bytes.size() / 2 * 3);
  std::size_t at = 0;
  for (; at + 1 < bytes.size(); at += 2) {
    char32_t unit = unitAt(at);
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // A high surrogate and the low one after it make one character.
      if (unit > 0xDBFF || at + 3 >= bytes.size()) {
        return at;
      }
      const char32_t low = unitAt(at + 2);
      if (low < 0xDC00 || low > 0xDFFF) {
        return at;
      }
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      at += 2;
    }
    appendUtf8(utf8, unit);
  }
  return at < bytes.size() ? at : std::string_view::npos;
}

char* putUtf8(char* out, char32_t character) {
  if (character < 0x80) {
    *out++ = static_cast<char>(character);
  } else if (character < 0x800) {
    *out++ = static_cast<char>(0xC0 | character >> 6);
    *out++ = static_cast<char>(0x80 | (character & 0x3F));
  } else if (character < 0x10000) {
    *out++ = static_cast<char>(0xE0 | character >> 12);
    *out++ = static_cast<char>(0x80 | (character >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (character & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | character >> 18);
    *out++ = static_cast<char>(0x80 | (character >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (character >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (character & 0x3F));
  }
  return out;
}

void appendUtf8(std::string& out, char32_t character) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(putUtf8(bytes, character) - bytes));
}

std::string visibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t character = nextCharacter(text, at);
    if (character == U'\n') {
      shown += "\\n";
    } else if (character < 0x20 || (character >= 0x7F && character <= 0x9F) ||
               (character == U'\uFFFD' && at - start == 1)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(character));
      shown += escape;
    } else {
      shown.append(text.substr(start, at - start));
    }
  }
  return shown;
}

std::string_view cutBetweenCharacters(std::string_view text, std::size_t most) {
  if (text.size() <= most) {
    return text;
  }
  while (most > 0 && isContinuation(static_cast<std::uint8_t>(text[most]))) {
    --most;
  }
  return text.substr(0, most);
}

std::string_view lastBetweenCharacters(std::string_view text, std::size_t most) {
  if (text.size() <= most) {
    return text;
  }
  std::string_view last = text.substr(text.size() - most);
  while (!last.empty() && isContinuation(static_cast<std::uint8_t>(last[0]))) {
    last.remove_prefix(1);
  }
  return last;
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t character = nextCharacter(text, at);
    if (character == U'"' || character == U'\\') {
      out += '\\';
      out += static_cast<char>(character);
    } else if (character == U'\n') {
      out += "\\n";
    } else if (character < 0x20 || (character == U'\uFFFD' && at - start == 1)) {
      // Controls, and bytes of a file name that are not UTF-8.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(character));
      out += escape;
    } else {
      out.append(text.substr(start, at - start));
    }
  }
  out += '"';
}

}  // namespace krlist
