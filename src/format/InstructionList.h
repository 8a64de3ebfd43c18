#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "format/Instruction.h"

namespace krlist {

// The decoded instructions of one script, in file order.
//
// The decoder has checked that the instructions lie whole, one after
// another, from the script's first byte: each starts where the one before it
// ends. So the list keeps no record per instruction, only how many there
// are, and walks the script's bytes again when they are looked at, each
// instruction's length read from the opcode table. It does keep where every
// kCheckpointInterval-th instruction starts, so that a walk can begin in the
// middle (a worker formatting one piece of a listing), and where each name is
// defined, since a reference may name a definition anywhere in the script.
class InstructionList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Instruction;
    using difference_type = std::ptrdiff_t;
    using reference = const Instruction&;
    using pointer = const Instruction*;

    const_iterator() = default;
    const Instruction& operator*() const { return instruction_; }
    const Instruction* operator->() const { return &instruction_; }
    const_iterator& operator++() {
      // Only an instruction the decoder found whole is ever read: past the
      // last there may be nothing, or bytes that stopped the decode.
      if (++index_ < list_->size_) {
        instruction_ = Instruction(list_->script_, instruction_.fileOffset() + instruction_.size());
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    friend class InstructionList;
    const_iterator(const InstructionList* list, std::size_t index, std::uint64_t offset)
        : list_(list), index_(index) {
      if (index < list->size_) {
        instruction_ = Instruction(list->script_, offset);
      }
    }

    const InstructionList* list_ = nullptr;
    std::size_t index_ = 0;
    Instruction instruction_;
  };

  // Instructions between two offsets kept for walks to start from.
  static constexpr std::size_t kCheckpointInterval = std::size_t{1} << 14;

  InstructionList() = default;
  InstructionList(const InstructionList&) = delete;
  InstructionList& operator=(const InstructionList&) = delete;

  // Starts the list afresh for the script whose bytes begin at `script`.
  void reset(const std::uint8_t* script) {
    checkpoints_.clear();
    definitions_.clear();
    size_ = 0;
    script_ = script;
  }

  // Adds the instruction whose opcode byte lies at `offset`: the one after
  // the last added, or the first at 0.
  void push_back(std::uint64_t offset) {
    if (size_ % kCheckpointInterval == 0) {
      checkpoints_.push_back(offset);
    }
    if (script_[offset] == kNameDefinition) {
      definitions_.push_back(offset);
    }
    ++size_;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const_iterator begin() const { return at(0); }
  const_iterator end() const { return {this, size_, 0}; }
  // The instruction at `index` (at most size()), walked to from the
  // checkpoint before it: at once when `index` is a multiple of
  // kCheckpointInterval.
  const_iterator at(std::size_t index) const {
    if (index >= size_) {
      return end();
    }
    const std::size_t checkpoint = index / kCheckpointInterval;
    const_iterator found{this, checkpoint * kCheckpointInterval, checkpoints_[checkpoint]};
    while (found.index_ < index) {
      ++found;
    }
    return found;
  }

  // The name definitions (0x2B), in file order.
  std::size_t definitionCount() const { return definitions_.size(); }
  Instruction definition(std::size_t index) const {
    return Instruction(script_, definitions_[index]);
  }

 private:
  const std::uint8_t* script_ = nullptr;
  std::vector<std::uint64_t> checkpoints_;  // where instructions 0, kCheckpointInterval, ... start
  std::vector<std::uint64_t> definitions_;
  std::size_t size_ = 0;
};

}  // namespace krlist
