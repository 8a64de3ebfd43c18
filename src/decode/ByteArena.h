#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

  // Returns room for `size` bytes; stays valid as long as the arena.
  std::uint8_t* allocate(std::size_t size);

  // Bytes held in chunks, used or not.
  std::size_t reservedBytes() const { return reserved_; }

 private:
  static constexpr std::size_t kChunkSize = std::size_t{1} << 20;

  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::uint8_t* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t reserved_ = 0;
};

}  // namespace krlist
