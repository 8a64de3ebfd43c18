#include "decode/Listing.h"

#include <algorithm>
#include <new>

namespace krlist {

namespace {

// From a block that suits a short script to one of 40 MiB.
constexpr std::size_t kFirstBlockRecords = std::size_t{1} << 10;
constexpr std::size_t kLargestBlockRecords = std::size_t{1} << 20;

}  // namespace

void Listing::push_back(const Instruction& instruction) {
  if (blocks_.empty() || blocks_.back().size == blocks_.back().capacity) {
    const std::size_t capacity = blocks_.empty()
                                     ? kFirstBlockRecords
                                     : std::min(2 * blocks_.back().capacity, kLargestBlockRecords);
    LargeBlock memory = allocateLargeBlock(capacity * sizeof(Instruction));
    auto* records = reinterpret_cast<Instruction*>(memory.get());
    blocks_.push_back({std::move(memory), records, capacity, 0});
  }
  Block& block = blocks_.back();
  new (&block.records[block.size]) Instruction(instruction);
  ++block.size;
  ++size_;
}

}  // namespace krlist
