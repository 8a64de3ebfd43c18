#include "decode/Listing.h"

#include <algorithm>

namespace krlist {

namespace {

// From a block that suits a short script to one of 40 MiB.
constexpr std::size_t kFirstBlockRecords = std::size_t{1} << 10;
constexpr std::size_t kLargestBlockRecords = std::size_t{1} << 20;

}  // namespace

void Listing::addBlock() {
  const std::size_t capacity = blocks_.empty()
                                   ? kFirstBlockRecords
                                   : std::min(2 * blocks_.back().capacity, kLargestBlockRecords);
  LargeBlock memory = allocateLargeBlock(capacity * sizeof(Instruction));
  auto* records = reinterpret_cast<Instruction*>(memory.get());
  blocks_.push_back({std::move(memory), records, capacity, 0});
}

}  // namespace krlist
