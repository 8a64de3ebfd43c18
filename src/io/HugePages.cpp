#include "io/HugePages.h"

#include <cstdint>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace krlist {

void adviseHugePages([[maybe_unused]] void* buffer, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (first < end) {
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#endif
}

namespace {

class HugePageMemory : public std::pmr::memory_resource {
 private:
  static std::size_t rounded(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
  }

  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (bytes < kHugePage) {
      return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    }
    void* block = ::operator new (rounded(bytes), std::align_val_t{kHugePage});
    adviseHugePages(block, rounded(bytes));
    return block;
  }

  void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override {
    if (bytes < kHugePage) {
      std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
    } else {
      ::operator delete (block, std::align_val_t{kHugePage});
    }
  }

  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

}  // namespace

std::pmr::memory_resource* hugePageMemory() {
  static HugePageMemory memory;
  return &memory;
}

}  // namespace krlist
