#include "decode/Instruction.h"

#include <cstring>

namespace krlist {

namespace {

const std::uint8_t* copyBytes(const std::uint8_t* bytes, std::int32_t length, ByteArena& arena) {
  std::uint8_t* copy = arena.allocate(static_cast<std::size_t>(length));
  if (length > 0) {
    std::memcpy(copy, bytes, static_cast<std::size_t>(length));
  }
  return copy;
}

}  // namespace

void Instruction::setData(const std::uint8_t* bytes, std::int32_t length, ByteArena& arena) {
  data_ = copyBytes(bytes, length, arena);
  dataLength = length;
}

void Instruction::setExtra(const std::uint8_t* bytes, std::int32_t length, ByteArena& arena) {
  extra_ = copyBytes(bytes, length, arena);
  extraLength = length;
}

void Instruction::setText(std::string_view text, ByteArena& arena) {
  char* copy = reinterpret_cast<char*>(arena.allocate(text.size() + 1));
  if (!text.empty()) {
    std::memcpy(copy, text.data(), text.size());
  }
  copy[text.size()] = '\0';
  text_ = copy;
}

}  // namespace krlist
