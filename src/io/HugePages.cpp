#include "io/HugePages.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace krlist {

void adviseHugePages([[maybe_unused]] void* buffer, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (first < end) {
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#endif
}

}  // namespace krlist
