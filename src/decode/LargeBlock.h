#pragma once

#include <cstddef>
#include <memory>

namespace krlist {

struct LargeBlockFree {
  void operator()(std::byte* block) const;
};

// Memory for the listing's records, four bytes per instruction: up to four
// times the size of a script of one-byte opcodes. Where the system supports
// it, blocks of 2 MiB and more are backed by huge pages: first touching
// memory one small page at a time would otherwise cost more than decoding
// into it.
using LargeBlock = std::unique_ptr<std::byte[], LargeBlockFree>;

LargeBlock allocateLargeBlock(std::size_t size);

}  // namespace krlist
