#include "translate/TranslationFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "text/Utf8.h"

namespace krlist {

void EntryList::reserve(std::size_t entries, std::size_t textBytes) {
  entries_.reserve(entries);
  texts_.reserve(textBytes);
}

void EntryList::add(const TranslationEntry& entry) {
  Packed& packed = entries_.emplace_back();
  packed.at = texts_.size();
  packed.fuzzy = entry.fuzzy;
  packed.obsolete = entry.obsolete;
  for (std::size_t f = 0; f < kFields; ++f) {
    texts_ += entry.*kMembers[f];
    packed.end[f] = texts_.size() - packed.at;
  }
}

void EntryList::get(std::size_t i, TranslationEntry& entry) const {
  for (std::size_t f = 0; f < kFields; ++f) {
    entry.*kMembers[f] = field(i, static_cast<Field>(f));
  }
  entry.fuzzy = entries_[i].fuzzy;
  entry.obsolete = entries_[i].obsolete;
  entry.line = 0;
}

}  // namespace krlist

namespace krlist::translation {

Problem lineProblem(std::size_t line, std::string message) {
  Problem problem;
  problem.where.line = line;
  problem.message = std::move(message);
  return problem;
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

// The offset a reference or a msgctxt ends in, after its last ':': eight
// hexadecimal digits (as in a CSV location, and in files of earlier versions)
// or a decimal number (as gettext keeps a line number). Eight digits that
// could be either are decimal unless they start with a 0, which a decimal
// number never does and an offset below 256 MiB in hexadecimal always does.
// Empty when there is none.
std::string offsetAfterColon(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  const std::size_t colon = text.rfind(':');
  if (colon == npos) {
    return {};
  }
  const std::string_view digits = text.substr(colon + 1);
  std::string context(digits);
  const bool decimal =
      !digits.empty() && digits[0] != '0' && digits.find_first_not_of("0123456789") == npos;
  if (isOffsetContext(digits) && !decimal) {
    toUpperAscii(context);
    return context;
  }
  std::uint64_t offset = 0;
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != npos) {
    return {};
  }
  for (const char digit : digits) {
    offset = offset * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  if (offset > 0xFFFFFFFF) {
    return {};
  }
  context.resize(8);
  for (int i = 7; i >= 0; --i, offset >>= 4) {
    context[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[offset & 15];
  }
  return context;
}

std::string_view excerpt(std::string_view text) {
  return cutBetweenCharacters(text, 40);
}

}  // namespace krlist::translation

namespace krlist {

Expected<TranslationFile> readAllEntries(std::string_view text, EntryReader read) {
  std::vector<TranslationEntry> entries;
  auto result = read(text, [&entries](const TranslationEntry& entry) { entries.push_back(entry); });
  if (result) {
    result->entries = std::move(entries);
  }
  return result;
}

}  // namespace krlist
