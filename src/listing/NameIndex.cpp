#include "listing/NameIndex.h"

#include <chrono>
#include <cstring>

#include "decode/OpcodeTable.h"

namespace krlist {

namespace {

std::uint32_t keyOf(const std::uint8_t* keyBytes) {
  std::uint32_t key;
  std::memcpy(&key, keyBytes, sizeof key);
  return key;
}

// A seed no script can know in advance: the time and where this run's stack
// lies.
std::uint64_t runSeed() {
  int local = 0;
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         reinterpret_cast<std::uintptr_t>(&local);
}

}  // namespace

std::size_t NameIndex::KeyHash::operator()(std::uint32_t key) const {
  // The finalizer of a well-known 64-bit mixer: every input bit affects every
  // output bit.
  std::uint64_t h = key ^ seed;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

NameIndex::NameIndex(const Listing& listing) : ranges_(0, KeyHash{runSeed()}) {
  // First count the definitions of each key, then give each key its slice of
  // names_ and fill the slices in listing order.
  std::size_t definitions = 0;
  for (const Instruction& instruction : listing) {
    if (instruction.opcode() == kNameDefinition) {
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
    if (instruction.opcode() == kNameDefinition) {
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
