#include "json/JsonBuild.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "format/ScriptDecoder.h"
#include "io/Files.h"
#include "io/ScriptBytes.h"
#include "json/JsonDump.h"
#include "json/JsonSource.h"
#include "json/SecondReader.h"

namespace krlist {
namespace {

// What building gives: the script, or "LINE:COLUMN: message".
std::string build(JsonSource& source) {
  TextOutput script(nullptr);
  Expected<void> built = buildScript(source, script);
  if (!built) {
    return built.problem().describe();
  }
  return "built " + std::string(script.text());
}

std::string build(std::string_view json) {
  JsonSource source(json);
  return build(source);
}

// The same, read from a file in blocks, as krscript reads it.
std::string buildFromFile(std::string_view json) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
  EXPECT_EQ(std::fwrite(json.data(), 1, json.size(), file.get()), json.size());
  std::rewind(file.get());
  JsonSource source(file.get());
  return build(source);
}

// The same, read from a file that is named, which a large document is read
// from on two cores.
std::string buildFromNamedFile(std::string_view json) {
  const std::filesystem::path path = testing::TempDir() + "krscript-json-build-" +
                                     std::to_string(std::random_device()()) + ".json";
  std::FILE* written = openFile(path, "wb");
  EXPECT_EQ(std::fwrite(json.data(), 1, json.size(), written), json.size());
  std::fclose(written);
  std::FILE* file = openFile(path, "rb");
  JsonSource source(file, path);
  std::string built = build(source);
  std::fclose(file);
  std::filesystem::remove(path);
  return built;
}

constexpr std::string_view kHead =
    "{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"utf-8\", \"end\": false,\n"
    " \"code\": [";

std::string document(std::string_view code, std::string_view head = kHead) {
  std::string json(head);
  return json.append(code).append("]}\n");
}

struct Refusal {
  std::string json;
  std::string expected;  // "LINE:COLUMN: message"
};

// The column counts characters ("日本" is two) and points at the place the
// text goes wrong: for a syntax error the byte where it stops being JSON, for
// a field the opening quote of its key, for a missing field the "{" of the
// object that lacks it.
TEST(JsonBuildTest, RefusesWithLineColumnAndWhat) {
  const Refusal refusals[] = {
      // Not JSON.
      {"",
       ":1:1: syntax error while parsing value - unexpected end of input; expected '[', "
       "'{', or a literal"},
      {"Alice: Hello.", ":1:1: syntax error while parsing value - invalid literal; last read: 'A'"},
      {"\n\n  tru",
       ":3:6: syntax error while parsing value - invalid literal; last read: "
       "'<U+000A><U+000A>  tru'"},
      {document("{\"op\": \"03\"} {\"op\": \"03\"}"),
       ":2:24: syntax error while parsing array - unexpected '{'; expected ']'"},
      {document("{\"op\": \"17\", \"int\": 1,}"),
       ":2:33: syntax error while parsing object key - unexpected '}'; expected string literal"},
      {document("{\"op\" \"03\"}"),
       ":2:20: syntax error while parsing object separator - unexpected string literal; "
       "expected ':'"},
      {document("{\"op\": \"03\", \"at\": x}"),
       ":2:30: syntax error while parsing value - invalid literal; last read: '\"at\": x'"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"a\nb\"}"),
       ":2:54: syntax error while parsing value - invalid string: control character U+000A (LF) "
       "must be escaped to \\u000A or \\n; last read: '\"a<U+000A>'"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"\\x\"}"),
       ":2:54: syntax error while parsing value - invalid string: forbidden character after "
       "backslash; last read: '\"\\x'"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"\\uD800x\"}"),
       ":2:59: syntax error while parsing value - invalid string: surrogate U+D800..U+DBFF must "
       "be followed by U+DC00..U+DFFF; last read: '\"\\uD800x'"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"\\uDC00\"}"),
       ":2:58: syntax error while parsing value - invalid string: surrogate U+DC00..U+DFFF must "
       "follow U+D800..U+DBFF; last read: '\"\\uDC00'"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"caf\xE9\"}"),
       ":2:56: invalid UTF-8"},
      {document("{\"op\": \"17\", \"int\": -}"),
       ":2:32: syntax error while parsing value - invalid number; expected digit after '-'; "
       "last read: '-}'"},
      {document("{\"op\": \"1A\", \"float\": 1.e5}"),
       ":2:35: syntax error while parsing value - invalid number; expected digit after '.'; "
       "last read: '1.e'"},
      {"{\"format\": \"krscript\", \"version\": 1e400}", ":1:39: number overflow parsing '1e400'"},
      {document("") + "5",
       ":3:1: syntax error while parsing value - unexpected number literal; "
       "expected end of input"},
      // Not the JSON form of a script.
      {"[1]", ":1:1: a script's JSON form is an object, {\"format\": \"krscript\", ...}"},
      {document("3"), ":2:11: \"code\" holds one object per instruction"},
      {document("{\"op\": \"03\", \"txt\": \"Hi\"}"), ":2:24: unknown field \"txt\""},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"日本\", \"text\": \"b\"}"),
       ":2:58: duplicated field \"text\""},
      {document("{\"op\": \"17\", \"int\": \"10\"}"), ":2:24: \"int\" must be an integer"},
      {document("{\"op\": \"17\", \"int\": 2147483648}"),
       ":2:24: \"int\": 2147483648 is outside 32 bits"},
      {document("{\"op\": \"17\", \"int\": 1e400}"), ":2:24: \"int\": 1e400 is outside 32 bits"},
      {document("{\"op\": \"1A\", \"float\": 1e39}"),
       ":2:24: \"float\": 1e39 is too large for a single-precision float"},
      {document("{\"op\": \"1E\", \"floats\": [1, 2]}"), ":2:24: opcode 1E takes 3 floats, not 2"},
      {document("{\"op\": \"03\"}, {\"op\": \"17\"}"), ":2:25: opcode 17 needs \"int\""},
      {document("{\"op\": \"03\", \"int\": 1}"), ":2:24: opcode 03 has no \"int\""},
      {document("{\"op\": \"01\"}"), ":2:12: unknown opcode 01"},
      {document("{\"at\": \"00000000\"}"), ":2:11: instruction without \"op\""},
      {document("{\"op\": \"2F\", \"data\": \"02000000\", \"words\": [\"01020304\"]}"),
       ":2:44: \"words\" holds 1 words, but the count byte (the first data byte) says 2"},
      {document("{\"op\": \"1B\", \"data\": \"00000000\", \"bytes\": \"410042\"}"),
       ":2:44: \"bytes\" holds 00, but a string ends at its first 0x00"},
      {document("{\"op\": \"2B\", \"key\": \"01000000\", \"text\": \"a\\u0000b\"}"),
       ":2:43: \"text\" holds U+0000, but a string ends at its first 0x00 byte"},
      {document(
           "{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"café\"}",
           "{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"cp932\", \"end\": false,\n"
           " \"code\": ["),
       ":2:44: \"text\" holds U+00E9 'é', which cp932 cannot hold"},
      {"{\"format\": \"krscript\", \"version\": 1, \"end\": false, \"code\": []}",
       ":1:1: missing field \"encoding\""},
      {"{\"format\": \"krscript\", \"version\": 1, \"end\": false,\n"
       " \"code\": [{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"a\"}]}",
       ":2:44: a text needs the document's \"encoding\""},
      // The encoding named after the instructions: a text is checked against
      // it once it is known, and still named where it stands.
      {"{\"format\": \"krscript\", \"version\": 1, \"end\": false,\n"
       " \"code\": [{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"é\"}],\n"
       " \"encoding\": \"cp932\"}",
       ":2:44: \"text\" holds U+00E9 'é', which cp932 cannot hold"},
      {"{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"utf-8\", \"end\": true,\n"
       " \"code\": [], \"rest\": {\"bytes\": \"01\"}}",
       ":1:59: \"end\" is true, but the bytes of the \"rest\" end the file"},
      {"{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"utf-8\", \"end\": false,\n"
       " \"code\": [], \"rest\": {\"at\": \"00000000\"}}",
       ":2:14: \"rest\" has no \"bytes\""},
  };
  for (const Refusal& refusal : refusals) {
    EXPECT_EQ(build(refusal.json), refusal.expected) << refusal.json;
  }
}

// Any layout, fields in any order, a byte-order mark, escapes in keys and
// values, and the encoding named last, give the same bytes.
TEST(JsonBuildTest, TakesAnyLayout) {
  static constexpr char kScript[] = "built \x1B\0\0\0\0\x82\xCD\x82\xA2\0\x17\x05\0\0\0\0";
  const std::string expected(kScript, sizeof kScript - 1);
  for (const std::string_view json : {
           std::string_view(
               "{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"cp932\", \"end\": "
               "true,\n"
               " \"code\": [{\"op\": \"1B\", \"data\": \"00000000\", \"text\": \"はい\"},\n"
               "  {\"op\": \"17\", \"int\": 5}]}\n"),
           std::string_view(
               "\xEF\xBB\xBF{\"end\":true,\"version\":1,\"format\":\"krscript\",\"code\":"
               "[{\"text\":\"\\u306f\\u3044\",\"op\":\"1B\",\"d\\u0061ta\":\"00000000\"},"
               "{\"int\":5,\"op\":\"17\"}],\"encoding\":\"cp932\"}"),
           std::string_view(
               "{\r\n\t\"format\" : \"krscript\" ,\r\n\t\"version\" : 1 ,\r\n\t\"encoding\""
               " : \"cp932\" ,\r\n\t\"end\" : true ,\r\n\t\"code\" : [\r\n\t\t{\r\n\t\t\t\"op\""
               " : \"1B\" ,\r\n\t\t\t\"data\" : \"00000000\" ,\r\n\t\t\t\"text\" : \"はい\"\r\n"
               "\t\t} , {\"op\": \"17\", \"int\": 5}\r\n\t]\r\n}\r\n"),
       }) {
    EXPECT_EQ(build(json), expected) << json;
    EXPECT_EQ(buildFromFile(json), expected) << json;
  }
}

void appendWord(std::string& script, std::uint32_t word) {
  for (int shift = 0; shift < 32; shift += 8) {
    script += static_cast<char>(word >> shift);
  }
}

// A script of every kind of instruction, at least `size` bytes long.
std::string largeScript(std::size_t size) {
  std::string script;
  for (std::uint32_t i = 0; script.size() < size; ++i) {
    script += '\x2B';  // a name, and a reference to it
    appendWord(script, i);
    script.append("名前").append(std::to_string(i)).push_back('\0');
    script += '\x16';
    appendWord(script, i);
    script += '\x1B';  // a line of dialogue
    appendWord(script, i % 7);
    script.append("Hello, \"line\" ").append(std::to_string(i)).append("\n\tこんにちは");
    script.push_back('\0');
    script += '\x1C';  // a string that is not text
    appendWord(script, 2);
    script += "\x87\x9A";
    script += '\0';
    script += '\x17';
    appendWord(script, 0 - i);
    script += '\x1A';
    appendWord(script, 0x3FC00000);
    script += '\x1E';  // three floats, one a NaN
    appendWord(script, 0x7FC00001);
    appendWord(script, i);
    appendWord(script, 0xBF800000);
    script += '\x2F';  // two words
    appendWord(script, 2);
    appendWord(script, i * 2654435761u);
    appendWord(script, ~i);
    script += '\x03';
  }
  return script + '\0';
}

std::string dump(std::string_view script) {
  ScriptBytes bytes;
  bytes.view(reinterpret_cast<const std::uint8_t*>(script.data()), script.size());
  ScriptDecoder decoder;
  const ScriptEnd end{decoder.decode(bytes), "", {}};
  EXPECT_TRUE(end.stop.complete());
  TextOutput json(nullptr);
  writeJson(decoder.instructions(), Encoding::Utf8, end, json);
  return std::string(json.text());
}

// The line and column of a byte offset, counted here afresh.
std::string positionOf(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  std::string position = ":";
  return position.append(std::to_string(line))
      .append(":")
      .append(std::to_string(column))
      .append(": ");
}

// A dump of over 8 MiB, read from a file in blocks of 1 MiB, builds back to
// the same bytes, as dump lays it out, on one line and with every field on a
// line of its own; an error near its end is still named where it lies.
TEST(JsonBuildTest, LargeDumpBuildsBackInAnyLayout) {
  const std::string script = largeScript(std::size_t{2} << 20);
  const std::string json = dump(script);
  ASSERT_GT(json.size(), std::size_t{8} << 20);
  std::string oneLine;
  std::string fieldPerLine;
  const std::string* layouts[] = {&json, &oneLine, &fieldPerLine};
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] == '\n') {
      continue;
    }
    oneLine += json[i];
    fieldPerLine += json[i];
    if (json.compare(i, 3, ", \"") == 0 && json[i - 1] != '\\') {
      fieldPerLine += "\n   ";
    }
  }
  const std::string expected = "built " + script;
  for (const std::string* layout : layouts) {
    EXPECT_TRUE(buildFromFile(*layout) == expected);
    // The last instruction's opcode made unknown, and a stray byte after it.
    std::string broken = *layout;
    const std::size_t op = broken.rfind("\"op\": \"03\"");
    broken.replace(op + 7, 2, "01");
    EXPECT_EQ(buildFromFile(broken), positionOf(broken, op) + "unknown opcode 01");
    broken = *layout;
    const std::size_t last = broken.rfind('}', broken.rfind('}') - 1);
    broken.insert(broken.begin() + static_cast<std::ptrdiff_t>(last), '@');
    EXPECT_EQ(buildFromFile(broken), positionOf(broken, last) +
                                         "syntax error while parsing object - invalid literal; "
                                         "last read: '\"03\"@'; expected '}'");
  }
}

// Read on two cores, a document gives what one reader makes of it, whatever
// is broken around the line near the middle where the second reader starts,
// before it or after it: the same script, or the same first problem at the
// same line and column.
TEST(JsonBuildTest, TwoReadersFindWhatOneFinds) {
  const std::string json = dump(largeScript(std::size_t{1} << 20));
  ASSERT_GT(json.size(), std::size_t{4} << 20);
  const std::string expected = "built " + largeScript(std::size_t{1} << 20);
  ASSERT_TRUE(buildFromNamedFile(json) == expected);
  std::string crlf;
  for (const char c : json) {
    crlf += c == '\n' ? "\r\n" : std::string(1, c);
  }
  EXPECT_TRUE(buildFromNamedFile(crlf) == expected);
  const std::string_view edits[] = {"", "@", "\n", "}", ",", "{", "]", "\"", " "};
  std::vector<std::size_t> offsets;
  for (std::size_t at = json.size() / 2 - 48; at < json.size() / 2 + 240; at += 4) {
    offsets.push_back(at);
  }
  for (std::size_t at = json.size() / 8; at < json.size(); at += json.size() / 8) {
    offsets.push_back(at);
  }
  offsets.push_back(json.rfind(']'));
  std::size_t refused = 0;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    // Each edit in turn: a byte taken out, or replaced by one that matters
    // to JSON or to where the second reader starts.
    std::string broken = json;
    const std::string_view edit = edits[i % std::size(edits)];
    broken.replace(offsets[i], i % 2 == 0 ? 1 : 0, edit);
    const std::string once = buildFromFile(broken);
    EXPECT_EQ(buildFromNamedFile(broken), once) << "edit " << i << " at " << offsets[i];
    refused += once.starts_with(":");
  }
  // Both kinds of outcome were met.
  EXPECT_GT(refused, 0u);
  EXPECT_LT(refused, offsets.size());
}

// The second reader's thread is joined before it is gone, whichever way the
// first reader ends: what it made is handed over once it has ended, what it
// threw is thrown to the first reader, and one whose part is not needed is
// told to stop and waited for.
TEST(JsonBuildTest, SecondReaderIsJoinedWhicheverWayTheFirstEnds) {
  const std::filesystem::path path = testing::TempDir() + "krscript-second-reader-" +
                                     std::to_string(std::random_device()()) + ".json";
  const std::string json = "[1,\n2]";
  std::FILE* written = openFile(path, "wb");
  ASSERT_EQ(std::fwrite(json.data(), 1, json.size(), written), json.size());
  std::fclose(written);
  std::FILE* file = openFile(path, "rb");
  JsonSource source(file, path);
  const auto start = [&](SecondReader::Read read) {
    return SecondReader::startAt(source, 3, 4, std::move(read));
  };

  std::unique_ptr<SecondReader> reader = start([](SecondPart& part, const std::atomic<bool>&) {
    // Its own source, from the cut's line, with the "[" that stands for what
    // is before it.
    while (!part.source->atEnd()) {
      part.script.write(part.source->Take());
    }
  });
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->handOverAt(), 3u);
  EXPECT_EQ(reader->finish().script.text(), "[2]");

  reader = start([](SecondPart&, const std::atomic<bool>&) { throw std::bad_alloc(); });
  ASSERT_TRUE(reader);
  EXPECT_THROW(reader->finish(), std::bad_alloc);

  std::atomic<bool> stopped = false;
  reader = start([&](SecondPart&, const std::atomic<bool>& stop) {
    while (!stop) {
      std::this_thread::yield();
    }
    stopped = true;
  });
  ASSERT_TRUE(reader);
  reader.reset();
  EXPECT_TRUE(stopped);

  std::fclose(file);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace krlist
