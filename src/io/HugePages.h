#pragma once

#include <cstddef>
#include <memory_resource>

namespace krlist {

// Large buffers filled once from end to end (a file read whole, the texts of
// every translation of a run, text kept in memory) would take a page fault
// every 4 KiB, which in a virtual machine costs more than the filling. Where
// the system gives huge pages on request, these ask for them.

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// A buffer that lies where malloc puts it asks for huge pages from this size
// on, where the 4 KiB pages at its two ends are a small part of it.
constexpr std::size_t kHugePagesFrom = std::size_t{8} << 20;

// Asks for the huge pages that lie wholly within `buffer` to be backed as
// such; a hint only, and nothing where the system has no such request.
void adviseHugePages(void* buffer, std::size_t size);

// Memory for a std::pmr string or vector that grows large: a block of
// kHugePage bytes or more is laid on huge pages whole, the others come from
// the heap.
std::pmr::memory_resource* hugePageMemory();

}  // namespace krlist
