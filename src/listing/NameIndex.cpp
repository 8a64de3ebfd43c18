#include "listing/NameIndex.h"

#include <cstring>

namespace krlist {

namespace {

std::uint32_t keyOf(const std::uint8_t* keyBytes) {
  std::uint32_t key;
  std::memcpy(&key, keyBytes, sizeof key);
  return key;
}

}  // namespace

NameIndex::NameIndex(const Listing& listing) {
  // First count the definitions of each key, then give each key its slice of
  // names_ and fill the slices in listing order.
  std::size_t definitions = 0;
  for (const Instruction& instruction : listing) {
    if (instruction.opcode() == kDefinition) {
      ++ranges_[keyOf(instruction.data())].count;
      ++definitions;
    }
  }
  std::uint32_t next = 0;
  for (auto& [key, range] : ranges_) {
    range.begin = next;
    next += range.count;
    range.count = 0;
  }
  names_.resize(definitions);
  for (const Instruction& instruction : listing) {
    if (instruction.opcode() == kDefinition) {
      Range& range = ranges_[keyOf(instruction.data())];
      names_[range.begin + range.count++] = instruction.text();
    }
  }
}

std::span<const std::string_view> NameIndex::namesFor(const std::uint8_t* keyBytes) const {
  const auto found = ranges_.find(keyOf(keyBytes));
  if (found == ranges_.end()) {
    return {};
  }
  return {names_.data() + found->second.begin, found->second.count};
}

}  // namespace krlist
