#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "decode/Instruction.h"
#include "decode/LargeBlock.h"

namespace krlist {

// The decoded instructions of one script, in file order.
//
// A record is where an instruction lies, four bytes: the instruction itself
// is read from the script's bytes when it is looked at. Records are kept in
// blocks that double in size up to a limit, so the listing grows without ever
// moving what it holds. Each block counts its records from an offset of its
// own, so that four bytes reach anywhere in a script of any size.
class Listing {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Instruction;
    using difference_type = std::ptrdiff_t;
    using reference = Instruction;
    struct pointer {
      Instruction instruction;
      const Instruction* operator->() const { return &instruction; }
    };

    const_iterator() = default;
    Instruction operator*() const {
      const Block& block = listing_->blocks_[block_];
      return Instruction(listing_->script_, block.base + block.records[index_]);
    }
    pointer operator->() const { return {**this}; }
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

  // Starts the listing afresh for the script whose bytes begin at `script`.
  void reset(const std::uint8_t* script) {
    blocks_.clear();
    definitions_.clear();
    size_ = 0;
    script_ = script;
  }

  // Records the instruction whose opcode byte lies at `offset`.
  void push_back(std::uint64_t offset) {
    if (blocks_.empty() || blocks_.back().size == blocks_.back().capacity ||
        offset - blocks_.back().base > UINT32_MAX) {
      addBlock(offset);
    }
    Block& block = blocks_.back();
    block.records[block.size++] = static_cast<std::uint32_t>(offset - block.base);
    ++size_;
    if (script_[offset] == kNameDefinition) {
      definitions_.push_back(offset);
    }
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Instruction front() const { return *begin(); }
  const_iterator begin() const { return {this, 0}; }
  // The record at `index` (at most size()), found block by block.
  const_iterator at(std::size_t index) const {
    const_iterator found{this, 0};
    while (found.block_ < blocks_.size() && index >= blocks_[found.block_].size) {
      index -= blocks_[found.block_].size;
      ++found.block_;
    }
    found.index_ = index;
    return found;
  }
  const_iterator end() const { return {this, blocks_.size()}; }

  // The name definitions (0x2B) among the records, in listing order, noted
  // apart as well: a reference may name a definition anywhere in the
  // script, and finding them all should not take a pass over every record.
  std::size_t definitionCount() const { return definitions_.size(); }
  Instruction definition(std::size_t index) const {
    return Instruction(script_, definitions_[index]);
  }

 private:
  struct Block {
    LargeBlock memory;
    std::uint32_t* records;  // offsets from `base`
    std::uint64_t base;
    std::size_t capacity;
    std::size_t size;
  };

  void addBlock(std::uint64_t base);

  const std::uint8_t* script_ = nullptr;
  std::vector<Block> blocks_;
  std::vector<std::uint64_t> definitions_;
  std::size_t size_ = 0;
};

}  // namespace krlist
