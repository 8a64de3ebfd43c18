#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/InstructionList.h"

namespace krlist {

// The names a listing defines (opcode 0x2B), by key: the four data bytes that
// a reference (0x16) carries too. A key may be defined more than once; its
// names are kept in listing order. Built once, so that resolving every
// reference costs time in proportion to the names it prints, not to the
// length of the listing.
//
// The names are copied together, each key's as the listing prints them
// after a reference ("-> NAME" for each), so that printing a reference
// copies one piece of text from a few pages instead of names scattered over
// the whole script.
class NameIndex {
 public:
  // Keys come from the file, so a script could pick them to share one slot
  // of a table under the identity hash and make every lookup a walk through
  // all of them. Mixing in a seed chosen per run spreads any chosen set of
  // keys.
  struct KeyHash {
    std::uint64_t seed;
    std::size_t operator()(std::uint32_t key) const;
  };

  explicit NameIndex(const InstructionList& listing);

  // The names defined with the key in `keyBytes` (four bytes), in listing
  // order; empty when there are none.
  std::span<const std::string_view> namesFor(const std::uint8_t* keyBytes) const;
  // "-> NAME" for each of those names, as one text.
  std::string_view referenceText(const std::uint8_t* keyBytes) const;

 private:
  // One key's names: names_[begin, begin + count), and their reference
  // text, which starts at text_[text]. A slot with no names is free.
  struct Slot {
    std::uint32_t key = 0;
    std::uint32_t count = 0;
    std::size_t begin = 0;
    std::size_t text = 0;
  };

  // Doubles the table, to keep it at most half full.
  void grow();
  // The slot of `key`, or the free slot where it belongs.
  Slot& slotFor(std::uint32_t key);
  const Slot& slotFor(std::uint32_t key) const;

  KeyHash hash_;
  // Open addressing, probed in turn from the key's hash: at most half full,
  // so that probes stay short and always reach a free slot.
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::string text_;                     // the reference texts of every key
  std::vector<std::string_view> names_;  // grouped by key, each group in listing order
};

}  // namespace krlist
