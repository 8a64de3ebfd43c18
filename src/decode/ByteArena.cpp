#include "decode/ByteArena.h"

namespace krlist {

std::uint8_t* ByteArena::allocate(std::size_t size) {
  if (next_ == nullptr || size > left_) {
    // A large request (a long string) gets a chunk of its own, and the current
    // chunk stays the one that small requests are served from.
    if (size > kChunkSize / 4) {
      chunks_.emplace_back(new std::uint8_t[size]);
      reserved_ += size;
      return chunks_.back().get();
    }
    chunks_.emplace_back(new std::uint8_t[kChunkSize]);
    reserved_ += kChunkSize;
    next_ = chunks_.back().get();
    left_ = kChunkSize;
  }
  std::uint8_t* block = next_;
  next_ += size;
  left_ -= size;
  return block;
}

}  // namespace krlist
