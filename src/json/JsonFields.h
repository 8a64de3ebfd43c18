#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace krlist {

// The fields of a script's JSON form, by the object each belongs to. A set
// of them is a bit mask, one bit per field in this order, which is also the
// order in which a missing or extra field is named when several are.
enum class JsonField : std::uint8_t {
  // An instruction's.
  At,
  Op,
  Key,
  Data,
  Int,
  Float,
  Floats,
  Words,
  Text,
  Bytes,
  Names,
  // The document's.
  Format,
  Version,
  Encoding,
  Code,
  End,
  Rest,
  // The rest's: "at", "reason" and "bytes", with the instruction's names.
  Reason,
  Count,
};

inline constexpr std::size_t kFieldCount = static_cast<std::size_t>(JsonField::Count);

inline constexpr std::array<std::string_view, kFieldCount> kFieldNames = {
    "at",    "op",    "key",    "data",    "int",      "float", "floats", "words", "text",
    "bytes", "names", "format", "version", "encoding", "code",  "end",    "rest",  "reason"};

constexpr std::string_view nameOf(JsonField field) {
  return kFieldNames[static_cast<std::size_t>(field)];
}

constexpr std::uint32_t bitOf(JsonField field) {
  return std::uint32_t{1} << static_cast<unsigned>(field);
}

// The fields each object may hold.
inline constexpr std::uint32_t kTopFields = bitOf(JsonField::Format) | bitOf(JsonField::Version) |
                                            bitOf(JsonField::Encoding) | bitOf(JsonField::Code) |
                                            bitOf(JsonField::End) | bitOf(JsonField::Rest);
inline constexpr std::uint32_t kInstructionFields = (bitOf(JsonField::Names) << 1) - 1;
inline constexpr std::uint32_t kRestFields =
    bitOf(JsonField::At) | bitOf(JsonField::Reason) | bitOf(JsonField::Bytes);

// The fields by the first letter of their names, since every key of every
// instruction is looked up: at most three share one (JsonField::Count ends a row).
inline constexpr auto kFieldsByLetter = [] {
  std::array<std::array<JsonField, 3>, 26> table{};
  for (auto& row : table) {
    row.fill(JsonField::Count);
  }
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    auto& row = table[static_cast<std::size_t>(kFieldNames[i][0] - 'a')];
    *std::find(row.begin(), row.end(), JsonField::Count) = static_cast<JsonField>(i);
  }
  return table;
}();

// The field a key names, in any object; nothing for a name no object has.
inline std::optional<JsonField> fieldNamed(std::string_view name) {
  if (name.empty() || name[0] < 'a' || name[0] > 'z') {
    return std::nullopt;
  }
  for (const JsonField field : kFieldsByLetter[static_cast<std::size_t>(name[0] - 'a')]) {
    if (field == JsonField::Count) {
      break;
    }
    if (name == nameOf(field)) {
      return field;
    }
  }
  return std::nullopt;
}

}  // namespace krlist
