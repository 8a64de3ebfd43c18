#include "decode/LargeBlock.h"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace krlist {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

LargeBlock allocateLargeBlock(std::size_t size) {
#ifdef __linux__
  if (size >= kHugePage) {
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (block == nullptr) {
      throw std::bad_alloc();
    }
    // Only advice: without huge pages the block works all the same.
    madvise(block, rounded, MADV_HUGEPAGE);
    return LargeBlock(static_cast<std::byte*>(block));
  }
#endif
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return LargeBlock(static_cast<std::byte*>(block));
}

void LargeBlockFree::operator()(std::byte* block) const {
  std::free(block);
}

}  // namespace krlist
