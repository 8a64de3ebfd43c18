#include "decode/ByteArena.h"

#include <algorithm>

namespace krlist {

namespace {

// Chunks double from the first size to the largest, so that a short script
// takes little and a long one few chunks.
constexpr std::size_t kFirstChunkSize = std::size_t{64} << 10;
constexpr std::size_t kLargestChunkSize = std::size_t{32} << 20;

}  // namespace

std::uint8_t* ByteArena::allocateInNewChunk(std::size_t size) {
  // A large request (a long string) gets a chunk of its own, and the current
  // chunk stays the one that small requests are served from.
  if (next_ != nullptr && size > chunkSize_ / 4) {
    chunks_.push_back(allocateLargeBlock(size));
    return reinterpret_cast<std::uint8_t*>(chunks_.back().get());
  }
  chunkSize_ = std::max(
      chunkSize_ == 0 ? kFirstChunkSize : std::min(2 * chunkSize_, kLargestChunkSize), size);
  chunks_.push_back(allocateLargeBlock(chunkSize_));
  std::uint8_t* block = reinterpret_cast<std::uint8_t*>(chunks_.back().get());
  next_ = block + size;
  left_ = chunkSize_ - size;
  return block;
}

}  // namespace krlist
