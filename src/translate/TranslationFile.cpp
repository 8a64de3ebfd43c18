#include "translate/TranslationFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace krlist::translation {

std::size_t findInvalidText(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t lead = bytes[i];
    if (lead >= 0x01 && lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    // The range the second byte must fall in rules out overlong forms,
    // surrogates (ED A0..BF) and code points past U+10FFFF (F4 90..BF).
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return i;  // U+0000, a continuation byte, C0, C1 or F5..FF
    }
    if (size - i < length || bytes[i + 1] < low || bytes[i + 1] > high) {
      return i;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) {
        return i;
      }
    }
    i += length;
  }
  return std::string_view::npos;
}

std::size_t lineAt(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

bool isOffsetContext(std::string_view context) {
  return context.size() == 8 && std::all_of(context.begin(), context.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
         });
}

void toUpperAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
}

std::uint32_t offsetOf(std::string_view context) {
  std::uint32_t offset = 0;
  std::from_chars(context.data(), context.data() + context.size(), offset, 16);
  return offset;
}

std::size_t OffsetLines::firstLine(std::string_view context, std::size_t line) {
  const std::uint32_t offset = offsetOf(context);
  if (lookedUp_.empty()) {
    if (increasing_.empty() || offset > increasing_.back().first) {
      increasing_.emplace_back(offset, line);
      return 0;
    }
    lookedUp_.insert(increasing_.begin(), increasing_.end());
    increasing_ = {};
  }
  const auto [previous, added] = lookedUp_.try_emplace(offset, line);
  return added ? 0 : previous->second;
}

std::string_view excerpt(std::string_view text) {
  std::size_t length = std::min<std::size_t>(text.size(), 40);
  while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  return text.substr(0, length);
}

}  // namespace krlist::translation

namespace krlist {

std::variant<TranslationFile, TranslationError> readAllEntries(std::string_view text,
                                                               EntryReader read) {
  std::vector<TranslationEntry> entries;
  auto result = read(text, [&entries](const TranslationEntry& entry) { entries.push_back(entry); });
  if (auto* file = std::get_if<TranslationFile>(&result)) {
    file->entries = std::move(entries);
  }
  return result;
}

}  // namespace krlist
