#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/LargeBlock.h"

namespace krlist {

// Hands out byte buffers for the records of one listing. A listing holds
// millions of small buffers (four data bytes, a name) that all live exactly as
// long as the listing, so they are carved from large chunks instead of taking
// one heap allocation, with its bookkeeping, each. Nothing is returned before
// the arena itself is destroyed.
class ByteArena {
 public:
  ByteArena() = default;
  ByteArena(const ByteArena&) = delete;
  ByteArena& operator=(const ByteArena&) = delete;

  // Returns room for `size` bytes (never null, even for 0); it stays valid as
  // long as the arena.
  std::uint8_t* allocate(std::size_t size) {
    if (next_ == nullptr || size > left_) {
      return allocateInNewChunk(size);
    }
    std::uint8_t* block = next_;
    next_ += size;
    left_ -= size;
    return block;
  }

 private:
  std::uint8_t* allocateInNewChunk(std::size_t size);

  std::vector<LargeBlock> chunks_;
  std::size_t chunkSize_ = 0;  // of the chunk small requests are served from
  std::uint8_t* next_ = nullptr;
  std::size_t left_ = 0;
};

}  // namespace krlist
