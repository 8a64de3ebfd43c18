#pragma once

#include <rapidjson/reader.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "json/JsonSource.h"

// The parser the JSON form is read with, and the two places where it reads
// through JsonSource faster than through its generic stream interface. Only
// the builder's unit includes this: the hooks below must be seen wherever
// the parser is instantiated on a JsonSource.

namespace krlist {

// The parser's memory, for the text of a string (which may be hundreds of
// megabytes): running out of it throws, as everywhere else, instead of
// handing the parser a null pointer.
struct JsonParserMemory {
  [[maybe_unused]] static constexpr bool kNeedFree = true;  // asked for by the parser
  void* Malloc(std::size_t size) {
    if (size == 0) {
      return nullptr;
    }
    void* memory = std::malloc(size);
    if (memory == nullptr) {
      throw std::bad_alloc();
    }
    return memory;
  }
  void* Realloc(void* original, std::size_t, std::size_t size) {
    if (size == 0) {
      std::free(original);
      return nullptr;
    }
    void* memory = std::realloc(original, size);
    if (memory == nullptr) {
      throw std::bad_alloc();
    }
    return memory;
  }
  static void Free(void* memory) { std::free(memory); }
};

using JsonParser = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonParserMemory>;

// Numbers are handed over as their text, read with from_chars (see
// JsonScalar.h); strings are checked to be UTF-8 by the builder, faster than
// the parser does.
constexpr unsigned kParseFlags = rapidjson::kParseNumbersAsStringsFlag;

}  // namespace krlist

namespace rapidjson {

// The parser skips whitespace through this one function, where the source
// counts lines and takes the place of the token that follows.
template <>
inline void SkipWhitespace(krlist::JsonSource& source) {
  source.skipWhitespace();
}

// And it copies the plain bytes of a string through this one, here a run at
// a time rather than a byte at a time.
template <>
template <>
inline void krlist::JsonParser::ScanCopyUnescapedString(krlist::JsonSource& source,
                                                        StackStream<char>& out) {
  const std::string_view plain = source.takePlainString();
  if (!plain.empty()) {
    std::memcpy(out.Push(static_cast<SizeType>(plain.size())), plain.data(), plain.size());
  }
}

}  // namespace rapidjson
