#include "json/JsonBuild.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "format/OpcodeTable.h"
#include "format/ScriptEncoder.h"
#include "text/Encoding.h"

namespace krlist {

namespace {

using Json = nlohmann::json;

// Every callback a JSON parser makes, doing nothing but counting them: the
// count names a place in the document that a second reading can find again.
class EventCounter {
 public:
  bool null() { return next(); }
  bool boolean(bool) { return next(); }
  bool number_integer(Json::number_integer_t) { return next(); }
  bool number_unsigned(Json::number_unsigned_t) { return next(); }
  bool number_float(Json::number_float_t, const std::string&) { return next(); }
  bool string(std::string&) { return next(); }
  bool binary(Json::binary_t&) { return next(); }
  bool start_object(std::size_t) { return next(); }
  bool key(std::string&) { return next(); }
  bool end_object() { return next(); }
  bool start_array(std::size_t) { return next(); }
  bool end_array() { return next(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  std::uint64_t events() const { return events_; }

 protected:
  // Counts one callback; false, which stops the parser, at the one looked for.
  bool next() { return ++events_ != stopAt_; }

  std::uint64_t stopAt_ = 0;  // 0: none

 private:
  std::uint64_t events_ = 0;
};

// Stops the parser right after a given callback.
class EventFinder : public EventCounter {
 public:
  explicit EventFinder(std::uint64_t event) { stopAt_ = event; }
};

// Finds the top-level "encoding", for a document that names it only after its
// instructions.
class EncodingFinder : public EventCounter {
 public:
  bool start_object(std::size_t) { return ++depth_, true; }
  bool end_object() { return --depth_, true; }
  bool start_array(std::size_t) { return ++depth_, true; }
  bool end_array() { return --depth_, true; }
  bool key(std::string& name) {
    atEncoding_ = depth_ == 1 && name == "encoding";
    return true;
  }
  bool string(std::string& value) {
    if (atEncoding_) {
      encoding = encodingFromName(value);
      return false;
    }
    return true;
  }

  std::optional<Encoding> encoding;

 private:
  int depth_ = 0;
  bool atEncoding_ = false;
};

// A place to point an error at: just after the parser's callback number
// `event`, less `back` bytes (the length of a key, to point at its start).
struct Anchor {
  std::uint64_t event = 0;
  std::uint64_t back = 0;
};

enum class Field : std::uint8_t {
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

constexpr std::array<std::string_view, static_cast<std::size_t>(Field::Count)> kFieldNames = {
    "at",    "op",    "key",    "data",    "int",      "float", "floats", "words", "text",
    "bytes", "names", "format", "version", "encoding", "code",  "end",    "rest",  "reason"};

std::string_view nameOf(Field field) {
  return kFieldNames[static_cast<std::size_t>(field)];
}

std::uint32_t bitOf(Field field) {
  return std::uint32_t{1} << static_cast<unsigned>(field);
}

// The start of a text from the document, short enough for a message (a key
// or a number may be megabytes long), cut between two UTF-8 characters.
std::string excerpt(std::string_view text, std::size_t longest = 60) {
  if (text.size() <= longest) {
    return std::string(text);
  }
  std::size_t end = longest;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return std::string(text.substr(0, end)) + "...";
}

std::string quote(std::string_view name) {
  return '"' + excerpt(name) + '"';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// Appends the bytes that `hex` spells, two digits each, in file order.
bool appendHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) {
    return false;
  }
  const std::size_t start = out.size();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]);
    const int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) {
      out.resize(start);
      return false;
    }
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

void appendWord(std::uint32_t word, std::string& out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>(word >> shift));
  }
}

// One JSON value that is not an object or an array.
struct Scalar {
  enum class Type : std::uint8_t { Null, Boolean, Integer, Float, String };
  Type type = Type::Null;
  bool boolean = false;
  // An integer that fits 64 bits: signed, or unsigned above the signed range.
  std::int64_t integer = 0;
  bool unsignedHigh = false;
  std::uint64_t unsignedValue = 0;
  // The text of a number with a fraction or exponent or too many digits, or a
  // string's value.
  const std::string* text = nullptr;
};

bool looksIntegral(std::string_view number) {
  return number.find_first_of(".eE") == std::string_view::npos;
}

// A number read as the nearest single-precision float, from its text: a
// double conversion first would round twice. False when it is too large.
bool parseFloat(const Scalar& value, float& result) {
  if (value.type == Scalar::Type::Integer) {
    result = value.unsignedHigh ? static_cast<float>(value.unsignedValue)
                                : static_cast<float>(value.integer);
    return true;
  }
  const std::string& text = *value.text;
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, result);
  if (read.ec == std::errc()) {
    return true;
  }
  // Out of range either way: a number too close to zero is read as zero, as
  // the nearest float; one too large has no float.
  const bool negative = !text.empty() && text[0] == '-';
  long double wide = 0;
  const std::from_chars_result readWide = std::from_chars(text.data(), end, wide);
  const bool tiny = readWide.ec == std::errc()
                        ? std::fabs(wide) < 1
                        : text.find_first_of("eE") != std::string::npos &&
                              text.find('-', text.find_first_of("eE")) != std::string::npos;
  if (!tiny) {
    return false;
  }
  result = negative ? -0.0f : 0.0f;
  return true;
}

// Reads the JSON form through the parser's callbacks and writes the script as
// it goes. Each instruction's fields are gathered until its object closes,
// since they may come in any order, and then written through the opcode
// table.
class ScriptBuilder : public EventCounter {
 public:
  // What the text holds: a whole document, or only an array of instructions
  // (a piece of a document's "code").
  enum class Part : std::uint8_t { Document, Instructions };

  // `skip` instructions are read and checked but not written, since they
  // already were.
  ScriptBuilder(TextOutput& script, std::optional<Encoding> encoding, bool searchedEncoding,
                Part part = Part::Document, std::uint64_t skip = 0)
      : script_(script),
        encoding_(encoding),
        searchedEncoding_(searchedEncoding),
        part_(part),
        skip_(skip) {}

  std::uint64_t instructions() const { return instructions_; }

  bool null() { return next() && scalar({}); }
  bool boolean(bool value) {
    Scalar scalar{Scalar::Type::Boolean};
    scalar.boolean = value;
    return next() && this->scalar(scalar);
  }
  bool number_integer(Json::number_integer_t value) {
    Scalar scalar{Scalar::Type::Integer};
    scalar.integer = value;
    return next() && this->scalar(scalar);
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    Scalar scalar{Scalar::Type::Integer};
    scalar.unsignedHigh = value > static_cast<std::uint64_t>(INT64_MAX);
    scalar.unsignedValue = value;
    scalar.integer = scalar.unsignedHigh ? 0 : static_cast<std::int64_t>(value);
    return next() && this->scalar(scalar);
  }
  bool number_float(Json::number_float_t, const std::string& text) {
    Scalar scalar{Scalar::Type::Float};
    scalar.text = &text;
    return next() && this->scalar(scalar);
  }
  bool string(std::string& value) {
    Scalar scalar{Scalar::Type::String};
    scalar.text = &value;
    return next() && this->scalar(scalar);
  }
  bool binary(Json::binary_t&) { return next() && fail(here(), "binary values are not JSON"); }
  bool start_object(std::size_t);
  bool key(std::string& name);
  bool end_object();
  bool start_array(std::size_t);
  bool end_array();
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error);

  // Set when the parser stopped on an error found here; its offset is still
  // to be found from `anchor` unless `placed`.
  std::optional<BuildError> error;
  Anchor anchor;
  bool placed = false;
  // Set when the instructions begin before the document names its encoding.
  bool needsEncoding = false;

 private:
  enum class Place : std::uint8_t { Document, Top, Code, Instruction, List, Rest, Done };

  // An instruction whose fields are being read.
  struct Pending {
    std::uint64_t startEvent = 0;
    std::uint32_t seen = 0;  // bits of Field
    std::array<std::uint64_t, static_cast<std::size_t>(Field::Count)> keyEvents{};
    std::uint8_t opcode = 0;
    std::string data;     // the four data bytes, from "key", "data", "int" or "float"
    std::string operand;  // a string's bytes, or the words or floats
    std::size_t listLength = 0;
  };

  Anchor here() const { return {events(), 0}; }
  Anchor atKey(Field field, std::uint64_t event) const { return {event, nameOf(field).size() + 2}; }
  Anchor atField(Field field) const {
    return atKey(field, pending_.keyEvents[static_cast<std::size_t>(field)]);
  }
  bool fail(Anchor where, std::string message) {
    error = BuildError{0, std::move(message)};
    anchor = where;
    return false;
  }
  bool failType(const char* what) {
    return fail(atKey(field_, keyEvent_), quote(nameOf(field_)) + " must be " + what);
  }
  bool scalar(const Scalar& value);
  bool topScalar(const Scalar& value);
  bool instructionScalar(const Scalar& value);
  bool listScalar(const Scalar& value);
  bool restScalar(const Scalar& value);
  bool readData(const Scalar& value);
  bool readFloat(const Scalar& value, const char* what, std::string& out);
  bool finishInstruction();
  bool finishDocument();
  bool startField(std::string& name, std::uint32_t allowed, std::uint32_t& seen);

  TextOutput& script_;
  std::optional<Encoding> encoding_;
  bool searchedEncoding_;
  Part part_;
  std::uint64_t skip_;
  Place place_ = Place::Document;
  Field field_ = Field::Format;  // the field whose value comes next
  std::uint64_t keyEvent_ = 0;
  std::uint32_t topSeen_ = 0;
  std::array<std::uint64_t, static_cast<std::size_t>(Field::Count)> topKeyEvents_{};
  std::uint64_t documentEvent_ = 0;
  bool endMarker_ = false;
  std::uint32_t restSeen_ = 0;
  std::string rest_;
  Pending pending_;
  std::uint64_t instructions_ = 0;
};

constexpr std::uint32_t kTopFields =
    1u << static_cast<unsigned>(Field::Format) | 1u << static_cast<unsigned>(Field::Version) |
    1u << static_cast<unsigned>(Field::Encoding) | 1u << static_cast<unsigned>(Field::Code) |
    1u << static_cast<unsigned>(Field::End) | 1u << static_cast<unsigned>(Field::Rest);
constexpr std::uint32_t kInstructionFields = (1u << static_cast<unsigned>(Field::Names) << 1) - 1;
constexpr std::uint32_t kRestFields = 1u << static_cast<unsigned>(Field::At) |
                                      1u << static_cast<unsigned>(Field::Reason) |
                                      1u << static_cast<unsigned>(Field::Bytes);

bool ScriptBuilder::startField(std::string& name, std::uint32_t allowed, std::uint32_t& seen) {
  keyEvent_ = events();
  for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
    const auto field = static_cast<Field>(i);
    if ((allowed & bitOf(field)) != 0 && name == kFieldNames[i]) {
      if ((seen & bitOf(field)) != 0) {
        return fail(atKey(field, keyEvent_), "duplicated field " + quote(name));
      }
      seen |= bitOf(field);
      field_ = field;
      return true;
    }
  }
  return fail({keyEvent_, name.size() + 2}, "unknown field " + quote(name));
}

bool ScriptBuilder::key(std::string& name) {
  next();
  switch (place_) {
    case Place::Top:
      if (!startField(name, kTopFields, topSeen_)) {
        return false;
      }
      topKeyEvents_[static_cast<std::size_t>(field_)] = keyEvent_;
      return true;
    case Place::Instruction:
      if (!startField(name, kInstructionFields, pending_.seen)) {
        return false;
      }
      pending_.keyEvents[static_cast<std::size_t>(field_)] = keyEvent_;
      return true;
    case Place::Rest:
      return startField(name, kRestFields, restSeen_);
    default:
      return fail(here(), "unexpected key " + quote(name));
  }
}

bool ScriptBuilder::start_object(std::size_t) {
  next();
  switch (place_) {
    case Place::Document:
      place_ = Place::Top;
      documentEvent_ = events();
      return true;
    case Place::Code:
      place_ = Place::Instruction;
      pending_ = Pending{};
      pending_.startEvent = events();
      return true;
    case Place::Top:
      if (field_ == Field::Rest) {
        place_ = Place::Rest;
        return true;
      }
      break;
    default:
      break;
  }
  return scalar({});  // an object where none belongs: worded as a wrong type
}

bool ScriptBuilder::start_array(std::size_t) {
  next();
  if (place_ == Place::Document && part_ == Part::Instructions) {
    place_ = Place::Code;
    return true;
  }
  if (place_ == Place::Top && field_ == Field::Code) {
    if (!encoding_ && !searchedEncoding_) {
      needsEncoding = true;
      return false;
    }
    place_ = Place::Code;
    return true;
  }
  if (place_ == Place::Instruction &&
      (field_ == Field::Floats || field_ == Field::Words || field_ == Field::Names)) {
    place_ = Place::List;
    pending_.listLength = 0;
    return true;
  }
  return scalar({});
}

bool ScriptBuilder::end_array() {
  next();
  if (place_ == Place::Code) {
    place_ = part_ == Part::Instructions ? Place::Done : Place::Top;
  } else {
    place_ = Place::Instruction;
  }
  return true;
}

bool ScriptBuilder::end_object() {
  next();
  switch (place_) {
    case Place::Instruction:
      place_ = Place::Code;
      return finishInstruction();
    case Place::Rest:
      place_ = Place::Top;
      if ((restSeen_ & bitOf(Field::Bytes)) == 0) {
        return fail(atKey(Field::Rest, topKeyEvents_[static_cast<std::size_t>(Field::Rest)]),
                    "\"rest\" has no \"bytes\"");
      }
      return true;
    default:
      place_ = Place::Done;
      return finishDocument();
  }
}

bool ScriptBuilder::parse_error(std::size_t position, const std::string& token,
                                const nlohmann::detail::exception& exception) {
  // A number too large for a double: said as for any number out of range.
  constexpr int kNumberOverflow = 406;
  if (exception.id == kNumberOverflow && (place_ == Place::Instruction || place_ == Place::List)) {
    if (field_ == Field::Int) {
      return fail(atKey(field_, keyEvent_), "\"int\": " + excerpt(token) + " is outside 32 bits");
    }
    if (field_ == Field::Float || field_ == Field::Floats) {
      return fail(atKey(field_, keyEvent_), quote(nameOf(field_)) + ": " + excerpt(token) +
                                                " is too large for a single-precision float");
    }
  }
  // The parser counts the byte it stopped at.
  std::uint64_t offset = position > 0 ? position - 1 : 0;
  std::string message;
  if (!isExactText(Encoding::Utf8, token)) {
    // The bytes read are not UTF-8 (a file in a legacy code page, or in
    // UTF-16): they are not repeated, and the place is where the sequence
    // they break began, a lead byte before the byte that broke it.
    std::size_t back = 0;
    std::size_t at = token.size() >= 2 ? token.size() - 2 : token.size();
    while (at < token.size() && back < 3 &&
           (static_cast<unsigned char>(token[at]) & 0xC0) == 0x80) {
      ++back;
      --at;
    }
    back = at < token.size() && static_cast<unsigned char>(token[at]) >= 0xC0 ? back + 1 : 0;
    offset -= std::min<std::uint64_t>(offset, back);
    message = "invalid UTF-8";
  } else {
    // The library's message starts with its own name and a position of its
    // own; what follows the position says what is wrong.
    std::string_view what = exception.what();
    const std::size_t column = what.find("column ");
    const std::size_t colon = what.find(": ", column == std::string_view::npos ? 0 : column);
    if (colon != std::string_view::npos) {
      what.remove_prefix(colon + 2);
    } else if (what.find("] ") != std::string_view::npos) {
      what.remove_prefix(what.find("] ") + 2);
    }
    message = excerpt(what, 200);
  }
  error = BuildError{offset, message};
  placed = true;
  return false;
}

bool ScriptBuilder::scalar(const Scalar& value) {
  switch (place_) {
    case Place::Document:
      return fail(here(), "a script's JSON form is an object, {\"format\": \"krscript\", ...}");
    case Place::Top:
      return topScalar(value);
    case Place::Instruction:
      return instructionScalar(value);
    case Place::List:
      return listScalar(value);
    case Place::Rest:
      return restScalar(value);
    case Place::Code:
      return fail(here(), "\"code\" holds one object per instruction");
    case Place::Done:
      break;
  }
  return fail(here(), "unexpected value after the document");
}

bool ScriptBuilder::topScalar(const Scalar& value) {
  const bool isString = value.type == Scalar::Type::String;
  switch (field_) {
    case Field::Format:
      if (!isString || *value.text != "krscript") {
        return failType("\"krscript\"");
      }
      return true;
    case Field::Version:
      if (value.type != Scalar::Type::Integer || value.integer != 1 || value.unsignedHigh) {
        return failType("1, the only version this krscript reads");
      }
      return true;
    case Field::Encoding: {
      const std::optional<Encoding> named =
          isString ? encodingFromName(*value.text) : std::optional<Encoding>();
      if (!named) {
        return failType("\"utf-8\" or \"cp932\"");
      }
      if (encoding_ && *encoding_ != *named) {
        return fail(atKey(field_, keyEvent_), "the encoding changed between two readings");
      }
      encoding_ = named;
      return true;
    }
    case Field::End:
      if (value.type != Scalar::Type::Boolean) {
        return failType("true or false");
      }
      endMarker_ = value.boolean;
      return true;
    case Field::Code:
      return failType("an array of instructions");
    default:
      return failType("an object");
  }
}

bool ScriptBuilder::restScalar(const Scalar& value) {
  if (value.type != Scalar::Type::String) {
    return failType("a string");
  }
  if (field_ == Field::Bytes && !appendHex(*value.text, rest_)) {
    return failType("hexadecimal digits, two per byte");
  }
  return true;
}

bool ScriptBuilder::readFloat(const Scalar& value, const char* what, std::string& out) {
  if (value.type == Scalar::Type::String) {
    std::string bytes;
    if (value.text->size() != 8 || !appendHex(*value.text, bytes)) {
      return failType(what);
    }
    out += bytes;
    return true;
  }
  if (value.type != Scalar::Type::Integer && value.type != Scalar::Type::Float) {
    return failType(what);
  }
  float result = 0;
  if (!parseFloat(value, result)) {
    return fail(atKey(field_, keyEvent_), quote(nameOf(field_)) + ": " + excerpt(*value.text) +
                                              " is too large for a single-precision float");
  }
  appendWord(std::bit_cast<std::uint32_t>(result), out);
  return true;
}

bool ScriptBuilder::readData(const Scalar& value) {
  std::string& data = pending_.data;
  switch (field_) {
    case Field::Key:
    case Field::Data:
      if (value.type != Scalar::Type::String || value.text->size() != 8 ||
          !appendHex(*value.text, data)) {
        return failType("4 bytes in hexadecimal, 8 digits");
      }
      return true;
    case Field::Int: {
      if (value.type == Scalar::Type::Float && looksIntegral(*value.text)) {
        return fail(atKey(field_, keyEvent_),
                    "\"int\": " + excerpt(*value.text) + " is outside 32 bits");
      }
      if (value.type != Scalar::Type::Integer) {
        return failType("an integer");
      }
      if (value.unsignedHigh || value.integer < std::numeric_limits<std::int32_t>::min() ||
          value.integer > std::numeric_limits<std::int32_t>::max()) {
        const std::string number = value.unsignedHigh ? std::to_string(value.unsignedValue)
                                                      : std::to_string(value.integer);
        return fail(atKey(field_, keyEvent_), "\"int\": " + number + " is outside 32 bits");
      }
      appendWord(static_cast<std::uint32_t>(value.integer), data);
      return true;
    }
    default:
      return readFloat(value, "a number, or 4 bytes in hexadecimal for a NaN or infinity", data);
  }
}

bool ScriptBuilder::instructionScalar(const Scalar& value) {
  const bool isString = value.type == Scalar::Type::String;
  switch (field_) {
    case Field::At:
      return isString || failType("a string");
    case Field::Op: {
      std::string opcode;
      if (!isString || value.text->size() != 2 || !appendHex(*value.text, opcode)) {
        return failType("an opcode, 2 hexadecimal digits");
      }
      pending_.opcode = static_cast<std::uint8_t>(opcode[0]);
      if (!kOpcodeTable[pending_.opcode].known) {
        return fail(atKey(field_, keyEvent_), "unknown opcode " + *value.text);
      }
      return true;
    }
    case Field::Key:
    case Field::Data:
    case Field::Int:
    case Field::Float:
      return readData(value);
    case Field::Text: {
      if (!isString) {
        return failType("a string");
      }
      if (!encoding_) {
        return fail(atKey(field_, keyEvent_), "a text needs the document's \"encoding\"");
      }
      const std::optional<UnencodableCharacter> bad =
          encodeText(*encoding_, *value.text, pending_.operand);
      if (!bad) {
        return true;
      }
      if (bad->character == 0) {
        return fail(atKey(field_, keyEvent_),
                    "\"text\" holds U+0000, but a string ends at its first 0x00 byte");
      }
      return fail(atKey(field_, keyEvent_), "\"text\" holds " + describeCharacter(bad->character) +
                                                ", which " + std::string(encodingName(*encoding_)) +
                                                " cannot hold");
    }
    case Field::Bytes:
      if (!isString || !appendHex(*value.text, pending_.operand)) {
        return failType("hexadecimal digits, two per byte");
      }
      return true;
    default:
      return failType("an array");
  }
}

bool ScriptBuilder::listScalar(const Scalar& value) {
  ++pending_.listLength;
  switch (field_) {
    case Field::Floats:
      return readFloat(value, "an array of numbers, or of 4 bytes in hexadecimal for a NaN",
                       pending_.operand);
    case Field::Words:
      if (value.type != Scalar::Type::String || value.text->size() != 8 ||
          !appendHex(*value.text, pending_.operand)) {
        return failType("an array of words, each 4 bytes in hexadecimal");
      }
      return true;
    default:
      return value.type == Scalar::Type::String || failType("an array of strings");
  }
}

bool ScriptBuilder::finishInstruction() {
  ++instructions_;
  const Anchor start{pending_.startEvent, 1};
  if ((pending_.seen & bitOf(Field::Op)) == 0) {
    return fail(start, "instruction without \"op\"");
  }
  const std::uint8_t opcode = pending_.opcode;
  const OpcodeInfo& info = kOpcodeTable[opcode];
  char opcodeHex[3] = {};
  TextOutput::putHexByte(opcodeHex, opcode);

  // The fields this opcode takes: its data bytes by their meaning, its
  // operand by its kind.
  std::uint32_t required = bitOf(Field::Op);
  if (info.dataLength == 4) {
    static constexpr std::array<Field, 4> kDataFields = {Field::Data, Field::Key, Field::Int,
                                                         Field::Float};
    required |= bitOf(kDataFields[static_cast<std::size_t>(info.meaning)]);
  }
  switch (info.kind) {
    case OperandKind::None:
      break;
    case OperandKind::String:
      break;  // "text" or "bytes", below
    case OperandKind::WordList:
      required |= bitOf(Field::Words);
      break;
    case OperandKind::FloatPair:
    case OperandKind::FloatTriple:
      required |= bitOf(Field::Floats);
      break;
  }
  std::uint32_t allowed = required | bitOf(Field::At);
  if (info.kind == OperandKind::String) {
    allowed |= bitOf(Field::Text) | bitOf(Field::Bytes);
  }
  if (opcode == kNameReference) {
    allowed |= bitOf(Field::Names);
  }
  for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
    const auto field = static_cast<Field>(i);
    if ((pending_.seen & bitOf(field)) != 0 && (allowed & bitOf(field)) == 0) {
      return fail(atField(field),
                  "opcode " + std::string(opcodeHex) + " has no " + quote(nameOf(field)));
    }
    if ((required & bitOf(field)) != 0 && (pending_.seen & bitOf(field)) == 0) {
      return fail(start, "opcode " + std::string(opcodeHex) + " needs " + quote(nameOf(field)));
    }
  }
  if (info.kind == OperandKind::String) {
    const std::uint32_t strings = pending_.seen & (bitOf(Field::Text) | bitOf(Field::Bytes));
    if (strings == 0) {
      return fail(start, "opcode " + std::string(opcodeHex) + " needs \"text\" or \"bytes\"");
    }
    if (strings != (bitOf(Field::Text) | bitOf(Field::Bytes))) {
      // One of the two, as it should be.
    } else {
      return fail(atField(Field::Bytes), "a string has \"text\" or \"bytes\", not both");
    }
  }
  if (info.kind == OperandKind::FloatPair || info.kind == OperandKind::FloatTriple) {
    const std::size_t wanted = info.kind == OperandKind::FloatPair ? 2 : 3;
    if (pending_.listLength != wanted) {
      return fail(atField(Field::Floats), "opcode " + std::string(opcodeHex) + " takes " +
                                              std::to_string(wanted) + " floats, not " +
                                              std::to_string(pending_.listLength));
    }
  }
  if (instructions_ <= skip_) {
    return true;
  }
  switch (appendInstruction(script_, opcode, pending_.data, pending_.operand)) {
    case EncodeProblem::None:
      return true;
    case EncodeProblem::WordCount:
      return fail(atField(Field::Words),
                  "\"words\" holds " + std::to_string(pending_.listLength) +
                      " words, but the count byte (the first data byte) says " +
                      std::to_string(static_cast<std::uint8_t>(pending_.data[0])));
    case EncodeProblem::NulInString:
      return fail(atField(Field::Bytes), "\"bytes\" holds 00, but a string ends at its first 0x00");
    default:
      // The checks above leave nothing else to go wrong.
      return fail(start, "instruction does not fit opcode " + std::string(opcodeHex));
  }
}

bool ScriptBuilder::finishDocument() {
  const Anchor start{documentEvent_, 1};
  for (Field field : {Field::Format, Field::Version, Field::Encoding, Field::Code, Field::End}) {
    if ((topSeen_ & bitOf(field)) == 0) {
      return fail(start, "missing field " + quote(nameOf(field)));
    }
  }
  if ((topSeen_ & bitOf(Field::Rest)) != 0 && endMarker_) {
    return fail(atKey(Field::End, topKeyEvents_[static_cast<std::size_t>(Field::End)]),
                "\"end\" is true, but the bytes of the \"rest\" end the file");
  }
  script_.write(rest_);
  if (endMarker_) {
    script_.write('\0');
  }
  return true;
}

constexpr std::size_t kLargeWindow = std::size_t{1} << 20;

// The lines of a text read window by window; a line that spans two windows
// is put together in a buffer of its own.
class LineReader {
 public:
  explicit LineReader(JsonSource& source) : source_(source) {}

  // The next line, without its line feed; false at the end of the text, or
  // at a line longer than `longest` (a text of megabytes), which is not
  // gathered. The view is good until the next call.
  bool next(std::string_view& line, std::size_t longest = SIZE_MAX) {
    joined_.clear();
    for (;;) {
      const std::size_t end = window_.find('\n');
      if (end != std::string_view::npos) {
        line = window_.substr(0, end);
        window_.remove_prefix(end + 1);
        if (!joined_.empty()) {
          joined_.append(line);
          line = joined_;
        }
        return true;
      }
      if (joined_.size() + window_.size() > longest) {
        return false;
      }
      joined_.append(window_);
      window_ = source_.nextText();
      if (window_.empty()) {
        line = joined_;
        finalLineFeed_ = joined_.empty();
        return !joined_.empty();
      }
    }
  }

  // Whether the text ended with a line feed, once `next` has returned false.
  bool finalLineFeed() const { return finalLineFeed_; }

 private:
  JsonSource& source_;
  std::string_view window_;
  std::string joined_;
  bool finalLineFeed_ = false;
};

// Instructions read from a piece of the "code" array, and the bytes they make.
struct Piece {
  std::string json;  // "[" and the piece's lines and "]"
  TextOutput script{nullptr};
  std::uint64_t instructions = 0;
  bool built = false;
};

void buildPiece(Piece& piece, Encoding encoding) {
  ScriptBuilder builder(piece.script, encoding, true, ScriptBuilder::Part::Instructions);
  piece.built = Json::sax_parse(piece.json.data(), piece.json.data() + piece.json.size(), &builder);
  piece.instructions = builder.instructions();
}

// How far the quick reading of a document went.
struct QuickBuild {
  bool complete = false;      // the whole script was written
  std::uint64_t written = 0;  // otherwise, the instructions written so far
};

// Reads a document laid out as dump writes it, one instruction per line, in
// pieces of many lines that both cores parse at once, since the JSON parser
// reads far more slowly than the decoder. The lines of "code" are checked to
// be whole objects separated by commas, so that the pieces make up the
// array; the document without them is read as a whole, so that its own
// fields are checked and written as usual. Anything else (another layout, an
// error) stops the quick reading, for the whole document to be read again
// the usual way, which says where an error lies.
QuickBuild buildQuickly(JsonSource& source, TextOutput& script) {
  static constexpr std::string_view kHeads[] = {
      "{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"utf-8\",",
      "{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"cp932\","};
  static constexpr std::string_view kCode = " \"code\": [";
  static constexpr std::size_t kPieceSize = std::size_t{4} << 20;

  QuickBuild result;
  if (!source.restart(kLargeWindow)) {
    return result;
  }
  LineReader lines(source);
  std::string_view line;
  if (!lines.next(line)) {
    return result;
  }
  std::string skeleton(line);
  const auto head = std::find(std::begin(kHeads), std::end(kHeads), line);
  if (head == std::end(kHeads) || !lines.next(line) || line != kCode) {
    return result;
  }
  const Encoding encoding = head == std::begin(kHeads) ? Encoding::Utf8 : Encoding::Cp932;
  skeleton += '\n';
  skeleton += line;
  skeleton += '\n';

  const std::size_t workers = std::thread::hardware_concurrency() > 1 ? 2 : 1;
  std::vector<Piece> pieces(workers);
  bool anyLine = false;
  bool lastHadComma = false;
  bool arrayEnded = false;
  while (!arrayEnded) {
    // Gather a piece per worker, each ending after a line with its comma.
    std::size_t filled = 0;
    for (; filled < workers && !arrayEnded; ++filled) {
      Piece& piece = pieces[filled];
      piece.script.clear();
      piece.json = "[";
      while (piece.json.size() < kPieceSize) {
        if (!lines.next(line, kPieceSize)) {
          return result;
        }
        if (line == " ]," || line == " ]") {
          if (lastHadComma) {
            return result;
          }
          arrayEnded = true;
          break;
        }
        if (line.size() < 4 || line.substr(0, 3) != "  {" ||
            (line.back() != '}' && line.substr(line.size() - 2) != "},")) {
          return result;
        }
        // Only the last line may go without its comma.
        if (anyLine && !lastHadComma) {
          return result;
        }
        if (piece.json.size() > 1) {
          piece.json += ",\n";
        }
        anyLine = true;
        lastHadComma = line.back() == ',';
        piece.json.append(line.substr(0, line.size() - (lastHadComma ? 1 : 0)));
      }
      piece.json += ']';
    }
    std::thread helper;
    if (filled > 1) {
      try {
        helper = std::thread(buildPiece, std::ref(pieces[1]), encoding);
      } catch (const std::system_error&) {
        // No second thread to be had: the pieces are built one after the other.
      }
    }
    buildPiece(pieces[0], encoding);
    if (helper.joinable()) {
      helper.join();
    } else if (filled > 1) {
      buildPiece(pieces[1], encoding);
    }
    for (std::size_t i = 0; i < filled; ++i) {
      if (!pieces[i].built) {
        return result;
      }
      script.write(pieces[i].script.text());
      result.written += pieces[i].instructions;
    }
  }

  // The rest of the document, from the end of "code", with an empty "code".
  skeleton += line;
  while (lines.next(line)) {
    skeleton += '\n';
    skeleton += line;
  }
  if (lines.finalLineFeed()) {
    skeleton += '\n';
  }
  if (source.readFailed()) {
    return result;
  }
  JsonSource rest(skeleton);
  ScriptBuilder builder(script, encoding, true);
  result.complete = Json::sax_parse(rest.begin(), rest.end(), &builder);
  return result;
}

}  // namespace

std::optional<BuildError> buildScript(JsonSource& source, TextOutput& script, bool quickly) {
  const QuickBuild quick = quickly ? buildQuickly(source, script) : QuickBuild{};
  if (quick.complete) {
    return std::nullopt;
  }
  if (!source.restart(kLargeWindow)) {
    return BuildError{source.consumed(), "cannot read the file again"};
  }
  std::optional<Encoding> encoding;
  bool searchedEncoding = false;
  for (;;) {
    ScriptBuilder builder(script, encoding, searchedEncoding, ScriptBuilder::Part::Document,
                          quick.written);
    const bool parsed = Json::sax_parse(source.begin(), source.end(), &builder);
    if (source.readFailed()) {
      return BuildError{source.consumed(), "cannot read the file"};
    }
    if (builder.needsEncoding) {
      // The instructions come first: find the encoding they are written in,
      // then read the document again.
      EncodingFinder finder;
      if (!source.restart(kLargeWindow)) {
        return BuildError{source.consumed(), "the encoding must come before \"code\" in a pipe"};
      }
      (void)Json::sax_parse(source.begin(), source.end(), &finder);
      encoding = finder.encoding;
      searchedEncoding = true;
      if (!source.restart(kLargeWindow)) {
        return BuildError{0, "cannot read the file again"};
      }
      continue;
    }
    if (parsed) {
      return std::nullopt;
    }
    BuildError error = builder.error.value_or(BuildError{source.consumed(), "cannot be read"});
    if (!builder.placed) {
      // Read again a byte at a time, to the callback where the error was
      // found: the parser has then read exactly to the end of its token.
      EventFinder finder(builder.anchor.event);
      if (source.restart(1)) {
        (void)Json::sax_parse(source.begin(), source.end(), &finder);
        error.offset = source.consumed() - std::min(source.consumed(), builder.anchor.back);
      }
    }
    return error;
  }
}

}  // namespace krlist
