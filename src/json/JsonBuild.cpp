#include "json/JsonBuild.h"

#include <rapidjson/error/en.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/OpcodeTable.h"
#include "format/ScriptEncoder.h"
#include "json/JsonFields.h"
#include "json/JsonParser.h"
#include "json/JsonScalar.h"
#include "json/JsonSyntax.h"
#include "json/SecondReader.h"
#include "text/Encoding.h"
#include "text/Utf8.h"

namespace krlist {
namespace {

// The start of a text from the document, short enough for a message (a key
// or a number may be megabytes long), cut between two UTF-8 characters.
std::string excerpt(std::string_view text, std::size_t longest = 60) {
  if (text.size() <= longest) {
    return std::string(text);
  }
  return std::string(cutBetweenCharacters(text, longest)) + "...";
}

std::string quote(std::string_view name) {
  return '"' + excerpt(name) + '"';
}

Problem problemAt(JsonSource::Position where, std::string message) {
  Problem problem;
  problem.where.line = where.line;
  problem.where.column = where.column;
  problem.message = std::move(message);
  return problem;
}

// An instruction read before the document named its encoding: written once
// the encoding is known, in the order read. One without a text is checked
// and made at once.
struct WaitingInstruction {
  bool hasText = false;
  std::string bytes;  // the instruction, when it has no text
  std::uint8_t opcode = 0;
  std::string data;
  std::string text;  // UTF-8
  JsonSource::Position textAt;
};

// Reads the JSON form through the parser's callbacks and writes the script as
// it goes. Each instruction's fields are gathered until its object closes,
// since they may come in any order, and then written through the opcode
// table. Every token is known by its place (see JsonSource), and a place the
// reader keeps for later messages is counted before its bytes leave memory.
// A large document's code is read from its middle on by a second builder, on
// a thread of its own (SecondReader.h), and handed over at the cut.
class ScriptBuilder {
 public:
  ScriptBuilder(JsonSource& source, TextOutput& script) : source_(source), script_(script) {
    std::vector<JsonPlace*> kept = {&after_, &keyPlace_, &documentStart_, &pending_.start};
    for (JsonPlace& place : topKeys_) {
      kept.push_back(&place);
    }
    for (JsonPlace& place : pending_.keys) {
      kept.push_back(&place);
    }
    source_.keepPlaces(std::move(kept));
    after_ = source_.placeOf(source_.offset());
  }
  // The second reader's, which reads the code as an array of its own ("["
  // stands for the text before the cut) and stops when `stop` is set.
  ScriptBuilder(JsonSource& source, TextOutput& script, Encoding encoding,
                const std::atomic<bool>& stop)
      : ScriptBuilder(source, script) {
    encoding_ = encoding;
    place_ = Place::Top;
    field_ = JsonField::Code;
    stop_ = &stop;
  }
  ScriptBuilder(const ScriptBuilder&) = delete;
  ScriptBuilder& operator=(const ScriptBuilder&) = delete;
  // A second reader whose part was not needed is stopped and joined as
  // second_ goes (see SecondReader).
  ~ScriptBuilder() = default;

  // The parser's callbacks. Numbers come only as text.
  bool Null() { return took(scalar({})); }
  bool Bool(bool value) {
    JsonScalar scalar{JsonScalar::Type::Boolean};
    scalar.boolean = value;
    return took(this->scalar(scalar));
  }
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    const std::string_view number(text, length);
    const JsonScalar value = numberOf(number);
    if (value.type == JsonScalar::Type::Float && overflowsDouble(number)) {
      return numberOverflow(number, source_.placeOf(source_.offset() - 1));
    }
    return tookValue(scalar(value));
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    JsonScalar scalar{JsonScalar::Type::String};
    scalar.text = std::string_view(text, length);
    return checkString(scalar.text) && tookValue(this->scalar(scalar));
  }
  bool StartObject();
  bool Key(const char* text, rapidjson::SizeType length, bool);
  bool EndObject(rapidjson::SizeType);
  bool StartArray();
  bool EndArray(rapidjson::SizeType);

  // What went wrong when the parser stopped at a place that is not JSON.
  Problem syntaxError(rapidjson::ParseResult result);
  // How the parse ended.
  Expected<void> outcome(rapidjson::ParseResult result);
  // Where the second reader stopped.
  void handOver(SecondPart& part) const {
    part.codeEnd = codeEnd_;
    part.lastValue = lastValue_;
  }

  std::optional<Problem> problem;

 private:
  enum class Place : std::uint8_t { Document, Top, Code, Instruction, List, Rest, Done };

  // An instruction whose fields are being read.
  struct Pending {
    JsonPlace start;
    std::uint32_t seen = 0;  // bits of JsonField
    std::array<JsonPlace, kFieldCount> keys{};
    std::uint8_t opcode = 0;
    std::string data;          // the four data bytes, from "key", "data", "int" or "float"
    std::string operand;       // a string's bytes, or the words or floats
    bool waitingText = false;  // "text" is in operand as UTF-8, for want of an encoding
    std::size_t listLength = 0;
  };

  // After a callback that went well: where to read from again to word a
  // syntax error. A string (a key or a value) or a number is kept from its
  // start, for the same reason.
  bool took(bool ok) {
    if (ok) {
      after_ = source_.placeOf(source_.offset());
      source_.keepFrom(std::min(after_.offset, lastValue_));
    }
    return ok;
  }
  bool tookValue(bool ok) {
    lastValue_ = here().offset;
    return took(ok);
  }
  JsonNext afterValue() const {
    switch (place_) {
      case Place::Code:
      case Place::List:
        return JsonNext::ArrayNext;
      case Place::Done:
        return JsonNext::End;
      default:
        return JsonNext::ObjectNext;
    }
  }

  bool fail(const JsonPlace& where, std::string message) {
    return failAt(source_.positionOf(where), std::move(message));
  }
  bool failAt(JsonSource::Position where, std::string message) {
    problem = problemAt(where, std::move(message));
    return false;
  }
  bool failType(const char* what) {
    return fail(keyPlace_, quote(nameOf(field_)) + " must be " + what);
  }
  const JsonPlace& here() const { return source_.token(); }

  bool numberOverflow(std::string_view number, const JsonPlace& last);
  bool checkString(std::string_view text);
  bool scalar(const JsonScalar& value);
  bool topScalar(const JsonScalar& value);
  bool instructionScalar(const JsonScalar& value);
  bool listScalar(const JsonScalar& value);
  bool restScalar(const JsonScalar& value);
  bool readData(const JsonScalar& value);
  bool readFloat(const JsonScalar& value, const char* what, std::string& out);
  bool finishInstruction();
  bool writeWaiting();
  bool finishDocument();
  bool startField(std::string_view name, std::uint32_t allowed, std::uint32_t& seen);
  void startSecondReader();
  bool takeSecondPart();

  JsonSource& source_;
  TextOutput& script_;
  std::optional<Encoding> encoding_;
  Place place_ = Place::Document;
  JsonNext next_ = JsonNext::Value;
  JsonPlace after_;                      // just after the last token taken
  std::uint64_t lastValue_ = 0;          // where the last string or number started
  JsonField field_ = JsonField::Format;  // the field whose value comes next
  JsonPlace keyPlace_;                   // where its key starts
  std::uint32_t topSeen_ = 0;
  std::array<JsonPlace, kFieldCount> topKeys_{};
  JsonPlace documentStart_;
  bool endMarker_ = false;
  std::uint32_t restSeen_ = 0;
  std::string rest_;
  Pending pending_;
  std::vector<WaitingInstruction> waiting_;
  JsonPlace codeEnd_;

  // The first reader's second reader, until its part is taken over, and
  // the second reader's stop.
  std::unique_ptr<SecondReader> second_;
  const std::atomic<bool>* stop_ = nullptr;
};

bool ScriptBuilder::numberOverflow(std::string_view number, const JsonPlace& last) {
  // Where a number belongs, said as for any number out of range.
  if (place_ == Place::Instruction || place_ == Place::List) {
    if (field_ == JsonField::Int) {
      return fail(keyPlace_, "\"int\": " + excerpt(number) + " is outside 32 bits");
    }
    if (field_ == JsonField::Float || field_ == JsonField::Floats) {
      return fail(keyPlace_, quote(nameOf(field_)) + ": " + excerpt(number) +
                                 " is too large for a single-precision float");
    }
  }
  return fail(last, excerpt("number overflow parsing '" + std::string(number) + "'", 200));
}

// The parser copies a string's bytes as they are, and writes a "\uDC00" to
// "\uDFFF" escape that follows no "\uD800" to "\uDBFF" as if it were a
// character: a string that is not UTF-8 is read again from its start, which
// is still in memory, to say where and what is wrong. Most strings are
// ASCII, which is checked at once.
bool ScriptBuilder::checkString(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) {
    any |= static_cast<unsigned char>(c);
  }
  if (any < 0x80 || findInvalidUtf8(text) == std::string_view::npos) {
    return true;
  }
  if (source_.rewind(after_)) {
    if (std::optional<JsonSyntaxError> found = findSyntaxError(source_, next_, lastValue_)) {
      return fail(found->place, excerpt(found->message, 200));
    }
  }
  return fail(here(), "invalid UTF-8");
}

bool ScriptBuilder::startField(std::string_view name, std::uint32_t allowed, std::uint32_t& seen) {
  keyPlace_ = here();
  const std::optional<JsonField> field = fieldNamed(name);
  if (!field || (allowed & bitOf(*field)) == 0) {
    return fail(keyPlace_, "unknown field " + quote(name));
  }
  if ((seen & bitOf(*field)) != 0) {
    return fail(keyPlace_, "duplicated field " + quote(name));
  }
  seen |= bitOf(*field);
  field_ = *field;
  return true;
}

bool ScriptBuilder::Key(const char* text, rapidjson::SizeType length, bool) {
  const std::string_view name(text, length);
  if (!checkString(name)) {
    return false;
  }
  next_ = JsonNext::Colon;
  switch (place_) {
    case Place::Top:
      if (!startField(name, kTopFields, topSeen_)) {
        return false;
      }
      topKeys_[static_cast<std::size_t>(field_)] = keyPlace_;
      return tookValue(true);
    case Place::Instruction:
      if (!startField(name, kInstructionFields, pending_.seen)) {
        return false;
      }
      pending_.keys[static_cast<std::size_t>(field_)] = keyPlace_;
      return tookValue(true);
    case Place::Rest:
      return tookValue(startField(name, kRestFields, restSeen_));
    default:
      return fail(here(), "unexpected key " + quote(name));
  }
}

bool ScriptBuilder::StartObject() {
  next_ = JsonNext::KeyOrEnd;
  switch (place_) {
    case Place::Document:
      place_ = Place::Top;
      documentStart_ = here();
      return took(true);
    case Place::Code:
      place_ = Place::Instruction;
      pending_.start = here();
      pending_.seen = 0;
      pending_.data.clear();
      pending_.operand.clear();
      pending_.waitingText = false;
      pending_.listLength = 0;
      return took(true);
    case Place::Top:
      if (field_ == JsonField::Rest) {
        place_ = Place::Rest;
        return took(true);
      }
      break;
    default:
      break;
  }
  return scalar({});  // an object where none belongs: worded as a wrong type
}

bool ScriptBuilder::StartArray() {
  next_ = JsonNext::ValueOrEnd;
  if (place_ == Place::Top && field_ == JsonField::Code) {
    place_ = Place::Code;
    if (stop_ == nullptr && encoding_) {
      startSecondReader();
    }
    return took(true);
  }
  if (place_ == Place::Instruction &&
      (field_ == JsonField::Floats || field_ == JsonField::Words || field_ == JsonField::Names)) {
    place_ = Place::List;
    pending_.listLength = 0;
    return took(true);
  }
  return scalar({});
}

bool ScriptBuilder::EndArray(rapidjson::SizeType) {
  if (place_ == Place::Code) {
    codeEnd_ = here();
  }
  place_ = place_ == Place::Code ? Place::Top : Place::Instruction;
  next_ = afterValue();
  return took(true);
}

bool ScriptBuilder::EndObject(rapidjson::SizeType) {
  bool ok = true;
  switch (place_) {
    case Place::Instruction:
      place_ = Place::Code;
      ok = finishInstruction();
      if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) {
        return false;
      }
      if (ok && second_ && source_.offset() == second_->handOverAt()) {
        ok = takeSecondPart();
      }
      break;
    case Place::Rest:
      place_ = Place::Top;
      if ((restSeen_ & bitOf(JsonField::Bytes)) == 0) {
        return fail(topKeys_[static_cast<std::size_t>(JsonField::Rest)],
                    "\"rest\" has no \"bytes\"");
      }
      break;
    default:
      place_ = Place::Done;
      ok = finishDocument();
      break;
  }
  next_ = afterValue();
  return took(ok);
}

bool ScriptBuilder::scalar(const JsonScalar& value) {
  bool ok = false;
  switch (place_) {
    case Place::Document:
      return fail(here(), "a script's JSON form is an object, {\"format\": \"krscript\", ...}");
    case Place::Top:
      ok = topScalar(value);
      break;
    case Place::Instruction:
      ok = instructionScalar(value);
      break;
    case Place::List:
      ok = listScalar(value);
      break;
    case Place::Rest:
      ok = restScalar(value);
      break;
    case Place::Code:
      return fail(here(), "\"code\" holds one object per instruction");
    case Place::Done:
      return fail(here(), "unexpected value after the document");
  }
  next_ = afterValue();
  return ok;
}

bool ScriptBuilder::topScalar(const JsonScalar& value) {
  const bool isString = value.type == JsonScalar::Type::String;
  switch (field_) {
    case JsonField::Format:
      if (!isString || value.text != "krscript") {
        return failType("\"krscript\"");
      }
      return true;
    case JsonField::Version:
      if (value.type != JsonScalar::Type::Integer || value.integer != 1 || value.unsignedHigh) {
        return failType("1, the only version this krscript reads");
      }
      return true;
    case JsonField::Encoding: {
      const std::optional<Encoding> named =
          isString ? encodingFromName(value.text) : std::optional<Encoding>();
      if (!named) {
        return failType("\"utf-8\" or \"cp932\"");
      }
      encoding_ = named;
      return writeWaiting();
    }
    case JsonField::End:
      if (value.type != JsonScalar::Type::Boolean) {
        return failType("true or false");
      }
      endMarker_ = value.boolean;
      return true;
    case JsonField::Code:
      return failType("an array of instructions");
    default:
      return failType("an object");
  }
}

bool ScriptBuilder::restScalar(const JsonScalar& value) {
  if (value.type != JsonScalar::Type::String) {
    return failType("a string");
  }
  if (field_ == JsonField::Bytes && !appendHex(value.text, rest_)) {
    return failType("hexadecimal digits, two per byte");
  }
  return true;
}

bool ScriptBuilder::readFloat(const JsonScalar& value, const char* what, std::string& out) {
  if (value.type == JsonScalar::Type::String) {
    std::string bytes;
    if (value.text.size() != 8 || !appendHex(value.text, bytes)) {
      return failType(what);
    }
    out += bytes;
    return true;
  }
  if (value.type != JsonScalar::Type::Integer && value.type != JsonScalar::Type::Float) {
    return failType(what);
  }
  float result = 0;
  if (!parseFloat(value, result)) {
    return fail(keyPlace_, quote(nameOf(field_)) + ": " + excerpt(value.text) +
                               " is too large for a single-precision float");
  }
  appendWord(std::bit_cast<std::uint32_t>(result), out);
  return true;
}

bool ScriptBuilder::readData(const JsonScalar& value) {
  std::string& data = pending_.data;
  switch (field_) {
    case JsonField::Key:
    case JsonField::Data:
      if (value.type != JsonScalar::Type::String || value.text.size() != 8 ||
          !appendHex(value.text, data)) {
        return failType("4 bytes in hexadecimal, 8 digits");
      }
      return true;
    case JsonField::Int: {
      if (value.type == JsonScalar::Type::Float && looksIntegral(value.text)) {
        return fail(keyPlace_, "\"int\": " + excerpt(value.text) + " is outside 32 bits");
      }
      if (value.type != JsonScalar::Type::Integer) {
        return failType("an integer");
      }
      if (value.unsignedHigh || value.integer < std::numeric_limits<std::int32_t>::min() ||
          value.integer > std::numeric_limits<std::int32_t>::max()) {
        const std::string number = value.unsignedHigh ? std::to_string(value.unsignedValue)
                                                      : std::to_string(value.integer);
        return fail(keyPlace_, "\"int\": " + number + " is outside 32 bits");
      }
      appendWord(static_cast<std::uint32_t>(value.integer), data);
      return true;
    }
    default:
      return readFloat(value, "a number, or 4 bytes in hexadecimal for a NaN or infinity", data);
  }
}

bool ScriptBuilder::instructionScalar(const JsonScalar& value) {
  const bool isString = value.type == JsonScalar::Type::String;
  switch (field_) {
    case JsonField::At:
      return isString || failType("a string");
    case JsonField::Op: {
      std::string opcode;
      if (!isString || value.text.size() != 2 || !appendHex(value.text, opcode)) {
        return failType("an opcode, 2 hexadecimal digits");
      }
      pending_.opcode = static_cast<std::uint8_t>(opcode[0]);
      if (!kOpcodeTable[pending_.opcode].known) {
        return fail(keyPlace_, "unknown opcode " + std::string(value.text));
      }
      return true;
    }
    case JsonField::Key:
    case JsonField::Data:
    case JsonField::Int:
    case JsonField::Float:
      return readData(value);
    case JsonField::Text: {
      if (!isString) {
        return failType("a string");
      }
      if (!encoding_) {
        // Written once the document names its encoding.
        pending_.operand = value.text;
        pending_.waitingText = true;
        return true;
      }
      const std::optional<UnencodableCharacter> bad =
          encodeText(*encoding_, value.text, pending_.operand);
      if (!bad) {
        return true;
      }
      if (bad->character == 0) {
        return fail(keyPlace_, "\"text\" holds U+0000, but a string ends at its first 0x00 byte");
      }
      return fail(keyPlace_, "\"text\" holds " + describeCharacter(bad->character) + ", which " +
                                 std::string(encodingName(*encoding_)) + " cannot hold");
    }
    case JsonField::Bytes:
      if (!isString || !appendHex(value.text, pending_.operand)) {
        return failType("hexadecimal digits, two per byte");
      }
      return true;
    default:
      return failType("an array");
  }
}

bool ScriptBuilder::listScalar(const JsonScalar& value) {
  ++pending_.listLength;
  switch (field_) {
    case JsonField::Floats:
      return readFloat(value, "an array of numbers, or of 4 bytes in hexadecimal for a NaN",
                       pending_.operand);
    case JsonField::Words:
      if (value.type != JsonScalar::Type::String || value.text.size() != 8 ||
          !appendHex(value.text, pending_.operand)) {
        return failType("an array of words, each 4 bytes in hexadecimal");
      }
      return true;
    default:
      return value.type == JsonScalar::Type::String || failType("an array of strings");
  }
}

bool ScriptBuilder::finishInstruction() {
  const JsonPlace& start = pending_.start;
  if ((pending_.seen & bitOf(JsonField::Op)) == 0) {
    return fail(start, "instruction without \"op\"");
  }
  const std::uint8_t opcode = pending_.opcode;
  const OpcodeInfo& info = kOpcodeTable[opcode];
  char opcodeHex[3] = {};
  TextOutput::putHexByte(opcodeHex, opcode);
  const auto keyOf = [&](JsonField field) -> const JsonPlace& {
    return pending_.keys[static_cast<std::size_t>(field)];
  };

  // The fields this opcode takes: its data bytes by their meaning, its
  // operand by its kind.
  std::uint32_t required = bitOf(JsonField::Op);
  if (info.dataLength == 4) {
    static constexpr std::array<JsonField, 4> kDataFields = {JsonField::Data, JsonField::Key,
                                                             JsonField::Int, JsonField::Float};
    required |= bitOf(kDataFields[static_cast<std::size_t>(info.meaning)]);
  }
  switch (info.kind) {
    case OperandKind::None:
    case OperandKind::String:  // "text" or "bytes", below
      break;
    case OperandKind::WordList:
      required |= bitOf(JsonField::Words);
      break;
    case OperandKind::FloatPair:
    case OperandKind::FloatTriple:
      required |= bitOf(JsonField::Floats);
      break;
  }
  std::uint32_t allowed = required | bitOf(JsonField::At);
  if (info.kind == OperandKind::String) {
    allowed |= bitOf(JsonField::Text) | bitOf(JsonField::Bytes);
  }
  if (opcode == kNameReference) {
    allowed |= bitOf(JsonField::Names);
  }
  // The first field, in the order of JsonField, that is there but not allowed
  // or needed but not there.
  const std::uint32_t extra = pending_.seen & ~allowed;
  const std::uint32_t missing = required & ~pending_.seen;
  if ((extra | missing) != 0) {
    const auto field = static_cast<JsonField>(std::countr_zero(extra | missing));
    if ((extra & bitOf(field)) != 0) {
      return fail(keyOf(field),
                  "opcode " + std::string(opcodeHex) + " has no " + quote(nameOf(field)));
    }
    return fail(start, "opcode " + std::string(opcodeHex) + " needs " + quote(nameOf(field)));
  }
  if (info.kind == OperandKind::String) {
    const std::uint32_t strings =
        pending_.seen & (bitOf(JsonField::Text) | bitOf(JsonField::Bytes));
    if (strings == 0) {
      return fail(start, "opcode " + std::string(opcodeHex) + " needs \"text\" or \"bytes\"");
    }
    if (strings == (bitOf(JsonField::Text) | bitOf(JsonField::Bytes))) {
      return fail(keyOf(JsonField::Bytes), "a string has \"text\" or \"bytes\", not both");
    }
  }
  if (info.kind == OperandKind::FloatPair || info.kind == OperandKind::FloatTriple) {
    const std::size_t wanted = info.kind == OperandKind::FloatPair ? 2 : 3;
    if (pending_.listLength != wanted) {
      return fail(keyOf(JsonField::Floats), "opcode " + std::string(opcodeHex) + " takes " +
                                                std::to_string(wanted) + " floats, not " +
                                                std::to_string(pending_.listLength));
    }
  }
  if (pending_.waitingText) {
    waiting_.push_back({true, "", opcode, pending_.data, pending_.operand,
                        source_.positionOf(keyOf(JsonField::Text))});
    return true;
  }
  // Once an instruction waits for the encoding, those after it wait too, so
  // that the script keeps their order; each is checked and made now.
  TextOutput made(nullptr);
  TextOutput& out = waiting_.empty() ? script_ : made;
  switch (appendInstruction(out, opcode, pending_.data, pending_.operand)) {
    case EncodeProblem::None:
      if (!waiting_.empty()) {
        waiting_.push_back({false, std::string(made.text()), 0, {}, {}, {}});
      }
      return true;
    case EncodeProblem::WordCount:
      return fail(keyOf(JsonField::Words),
                  "\"words\" holds " + std::to_string(pending_.listLength) +
                      " words, but the count byte (the first data byte) says " +
                      std::to_string(static_cast<std::uint8_t>(pending_.data[0])));
    case EncodeProblem::NulInString:
      return fail(keyOf(JsonField::Bytes),
                  "\"bytes\" holds 00, but a string ends at its first 0x00");
    default:
      // The checks above leave nothing else to go wrong.
      return fail(start, "instruction does not fit opcode " + std::string(opcodeHex));
  }
}

// Writes the instructions that waited for the document's encoding, now named.
bool ScriptBuilder::writeWaiting() {
  for (WaitingInstruction& instruction : waiting_) {
    if (!instruction.hasText) {
      script_.write(instruction.bytes);
      continue;
    }
    std::string operand;
    const std::optional<UnencodableCharacter> bad =
        encodeText(*encoding_, instruction.text, operand);
    if (bad && bad->character == 0) {
      return failAt(instruction.textAt,
                    "\"text\" holds U+0000, but a string ends at its first 0x00 byte");
    }
    if (bad) {
      return failAt(instruction.textAt, "\"text\" holds " + describeCharacter(bad->character) +
                                            ", which " + std::string(encodingName(*encoding_)) +
                                            " cannot hold");
    }
    (void)appendInstruction(script_, instruction.opcode, instruction.data, operand);
  }
  waiting_.clear();
  return true;
}

bool ScriptBuilder::finishDocument() {
  for (const WaitingInstruction& instruction : waiting_) {
    if (instruction.hasText) {
      return failAt(instruction.textAt, "a text needs the document's \"encoding\"");
    }
  }
  for (JsonField field : {JsonField::Format, JsonField::Version, JsonField::Encoding,
                          JsonField::Code, JsonField::End}) {
    if ((topSeen_ & bitOf(field)) == 0) {
      return fail(documentStart_, "missing field " + quote(nameOf(field)));
    }
  }
  if ((topSeen_ & bitOf(JsonField::Rest)) != 0 && endMarker_) {
    return fail(topKeys_[static_cast<std::size_t>(JsonField::End)],
                "\"end\" is true, but the bytes of the \"rest\" end the file");
  }
  script_.write(rest_);
  if (endMarker_) {
    script_.write('\0');
  }
  return true;
}

void readSecondPart(SecondPart& part, Encoding encoding, const std::atomic<bool>& stop);

void ScriptBuilder::startSecondReader() {
  const Encoding encoding = *encoding_;
  second_ =
      SecondReader::start(source_, [encoding](SecondPart& part, const std::atomic<bool>& stop) {
        readSecondPart(part, encoding, stop);
      });
}

// At the cut, in the code: the script goes on with the second part, and the
// reading from the "]" where the second reader stopped.
bool ScriptBuilder::takeSecondPart() {
  const std::unique_ptr<SecondReader> second = std::move(second_);
  SecondPart& part = second->finish();
  // The cut's line is the one after that of this instruction's "}".
  const std::uint64_t lineBase = here().line;
  if (part.problem) {
    part.problem->where.line += lineBase;
    problem = std::move(part.problem);
    return false;
  }
  script_.write(part.script.text());
  source_.continueFrom(std::move(*part.source), part.codeEnd, lineBase);
  lastValue_ = part.lastValue;
  return true;
}

Problem ScriptBuilder::syntaxError(rapidjson::ParseResult result) {
  // Read again from just after the last token taken, which is still in
  // memory, with the reader's own rules, to say what is wrong and where.
  if (source_.rewind(after_)) {
    if (std::optional<JsonSyntaxError> found = findSyntaxError(source_, next_, lastValue_)) {
      if (found->numberOverflow) {
        (void)numberOverflow(found->number, found->place);
      } else {
        (void)fail(found->place, excerpt(found->message, 200));
      }
      return *problem;
    }
  }
  // A token longer than what is kept (many megabytes): the parser's words.
  (void)fail(source_.placeOf(result.Offset()),
             std::string("syntax error - ") + rapidjson::GetParseError_En(result.Code()));
  return *problem;
}

Expected<void> ScriptBuilder::outcome(rapidjson::ParseResult result) {
  if (source_.readFailed()) {
    return problemAt(source_.positionOf(source_.placeOf(source_.offset())), "cannot read the file");
  }
  if (problem) {
    return *problem;
  }
  if (result.IsError()) {
    return syntaxError(result);
  }
  return {};
}

void readSecondPart(SecondPart& part, Encoding encoding, const std::atomic<bool>& stop) {
  ScriptBuilder builder(*part.source, part.script, encoding, stop);
  JsonParser parser;
  const rapidjson::ParseResult result =
      parser.Parse<kParseFlags | rapidjson::kParseStopWhenDoneFlag>(*part.source, builder);
  if (stop) {
    return;  // not needed
  }
  Expected<void> read = builder.outcome(result);
  if (!read) {
    part.problem = std::move(read.problem());
  }
  builder.handOver(part);
}

}  // namespace

Expected<void> buildScript(JsonSource& source, TextOutput& script) {
  source.skipByteOrderMark();
  ScriptBuilder builder(source, script);
  JsonParser parser;
  return builder.outcome(parser.Parse<kParseFlags>(source, builder));
}

}  // namespace krlist
