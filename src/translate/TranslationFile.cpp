#include "translate/TranslationFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace krlist::translation {

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
