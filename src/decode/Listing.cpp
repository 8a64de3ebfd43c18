#include "decode/Listing.h"

#include <algorithm>

namespace krlist {

namespace {

// From a block that suits a short script to one of 4 MiB.
constexpr std::size_t kFirstBlockRecords = std::size_t{1} << 10;
constexpr std::size_t kLargestBlockRecords = std::size_t{1} << 20;

}  // namespace

void Listing::addBlock(std::uint64_t base) {
  const std::size_t capacity = blocks_.empty()
                                   ? kFirstBlockRecords
                                   : std::min(2 * blocks_.back().capacity, kLargestBlockRecords);
  LargeBlock memory = allocateLargeBlock(capacity * sizeof(std::uint32_t));
  auto* records = reinterpret_cast<std::uint32_t*>(memory.get());
  blocks_.push_back({std::move(memory), records, base, capacity, 0});
}

}  // namespace krlist
