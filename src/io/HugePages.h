#pragma once

#include <algorithm>
#include <cstddef>

namespace krlist {

// Large buffers filled once from end to end (a file read whole, the texts of
// every translation of a run, text kept in memory) would take a page fault
// every 4 KiB, which in a virtual machine costs more than the filling. Where
// the system gives huge pages on request, these ask for them.

// Buffers of at least this many bytes ask for huge pages.
constexpr std::size_t kHugePagesFrom = std::size_t{8} << 20;

// Asks for the 2 MiB pages that lie wholly within `buffer` to be huge ones; a
// hint only, and nothing where the system has no such request.
void adviseHugePages(void* buffer, std::size_t size);

// Reserves room for `count` elements in a string or vector, asking for huge
// pages when that room is large.
template <class Container>
void reserveRoom(Container& container, std::size_t count) {
  const std::size_t before = container.capacity();
  container.reserve(count);
  const std::size_t bytes = container.capacity() * sizeof(*container.data());
  if (container.capacity() != before && bytes >= kHugePagesFrom) {
    adviseHugePages(container.data(), bytes);
  }
}

// Makes room for `more` elements after the last, at least doubling the room
// when it grows, so that adding one at a time takes linear time.
template <class Container>
void growRoom(Container& container, std::size_t more) {
  if (container.capacity() - container.size() < more) {
    reserveRoom(container, container.size() + std::max(more, container.size()));
  }
}

}  // namespace krlist
