#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "decode/Listing.h"

namespace krlist {

// The names a listing defines (opcode 0x2B), by key: the four data bytes that
// a reference (0x16) carries too. A key may be defined more than once; its
// names are kept in listing order. Built once, so that resolving every
// reference costs time in proportion to the names it prints, not to the
// length of the listing.
class NameIndex {
 public:
  // Keys come from the file, so a script could pick them to share one bucket
  // of the identity hash that integers get by default and make every lookup
  // a walk through all of them. Mixing in a seed chosen per run spreads any
  // chosen set of keys.
  struct KeyHash {
    std::uint64_t seed;
    std::size_t operator()(std::uint32_t key) const;
  };

  explicit NameIndex(const Listing& listing);

  // The names defined with the key in `keyBytes` (four bytes), in listing
  // order; empty when there are none.
  std::span<const std::string_view> namesFor(const std::uint8_t* keyBytes) const;

 private:
  struct Range {
    std::uint32_t begin = 0;
    std::uint32_t count = 0;
  };

  std::unordered_map<std::uint32_t, Range, KeyHash> ranges_;
  std::vector<std::string_view> names_;  // grouped by key, each group in listing order
};

}  // namespace krlist
