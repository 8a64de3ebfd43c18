#pragma once

#include <cstddef>
#include <iterator>
#include <new>
#include <type_traits>
#include <vector>

#include "decode/Instruction.h"
#include "decode/LargeBlock.h"

namespace krlist {

// The decoded instructions of one script, in file order.
//
// Records are stored in blocks that double in size up to a limit, so the
// listing grows without ever moving what it holds: at its peak it holds
// itself once, where a growing array would briefly hold two copies.
class Listing {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Instruction;
    using difference_type = std::ptrdiff_t;
    using pointer = const Instruction*;
    using reference = const Instruction&;

    const_iterator() = default;
    reference operator*() const { return listing_->blocks_[block_].records[index_]; }
    pointer operator->() const { return &**this; }
    const_iterator& operator++() {
      if (++index_ == listing_->blocks_[block_].size) {
        ++block_;
        index_ = 0;
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const {
      return block_ == other.block_ && index_ == other.index_;
    }

   private:
    friend class Listing;
    const_iterator(const Listing* listing, std::size_t block) : listing_(listing), block_(block) {}

    const Listing* listing_ = nullptr;
    std::size_t block_ = 0;
    std::size_t index_ = 0;
  };

  Listing() = default;
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  void push_back(const Instruction& instruction) {
    if (blocks_.empty() || blocks_.back().size == blocks_.back().capacity) {
      addBlock();
    }
    Block& block = blocks_.back();
    new (&block.records[block.size]) Instruction(instruction);
    ++block.size;
    ++size_;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Instruction& front() const { return blocks_.front().records[0]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, blocks_.size()}; }

 private:
  // Records are copied into raw memory and never destroyed.
  static_assert(std::is_trivially_copyable_v<Instruction> &&
                std::is_trivially_destructible_v<Instruction>);

  struct Block {
    LargeBlock memory;
    Instruction* records;
    std::size_t capacity;
    std::size_t size;
  };

  void addBlock();

  std::vector<Block> blocks_;
  std::size_t size_ = 0;
};

}  // namespace krlist
