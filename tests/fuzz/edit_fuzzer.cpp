// Feeds arbitrary requests to the editor's answers, as any page the browser
// opens may send them, and checks what every answer must guarantee: a
// request without the key, for another host, or a write from another origin
// gets 403 and nothing else; every JSON answer is JSON; and whatever was
// asked, the translation file still reads, with every entry it had.
//
// An input is the request's parts separated by NUL bytes: the method, the
// target, then one byte each choosing the host, the cookie and the origin
// among right and wrong ones, then the body.
//
// Built with -fsanitize=fuzzer and KRLIST_LIBFUZZER it is a libFuzzer
// target. Built without, it replays files through the same checks (`FILE...`).

#include <rapidjson/reader.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "edit/Editor.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "text/Utf8.h"
#include "translate/PoFile.h"

#if !defined(KRLIST_LIBFUZZER)
#include "Replay.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kPort = 8470;
const std::string kToken(32, 'a');

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// One script of five strings, two names among them, in a PO file of its
// own in a folder of this run's.
struct Game {
  fs::path file;
  std::size_t entries = 0;
  std::unique_ptr<krlist::edit::Editor> editor;

  Game() {
    file = fs::temp_directory_path() / ("krscript-edit-fuzz-" + std::to_string(getpid()));
    fs::create_directories(file);
    file /= "a.kr.po";
    krlist::TranslationFile po;
    po.scriptEncoding = "utf-8";
    const char* const sources[] = {"Alice", "Bob", "Hello, {name}.", "はい。", "Alice"};
    for (int i = 0; i < 5; ++i) {
      krlist::TranslationEntry entry;
      char offset[9];
      std::snprintf(offset, sizeof offset, "%08X", 0x10 * (i + 1));
      entry.offset = offset;
      entry.comment = i < 2 || i == 4 ? "name definition, key 00000000" : "opcode 1B\n-> Alice";
      entry.reference = std::string("a.kr:") + offset;
      entry.source = sources[i];
      entry.target = i == 0 ? "Alicia" : "";
      entry.fuzzy = i == 3;
      entry.previousSource = i == 3 ? "いいえ。" : "";
      po.entries.push_back(entry);
    }
    const std::string text = krlist::writePo(po);
    std::FILE* out = std::fopen(file.string().c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    krlist::edit::EditedScript script;
    script.path = "a.kr";
    script.translationsPath = file;
    script.translationsName = "a.kr.po";
    script.encoding = krlist::Encoding::Utf8;
    script.text = text;
    script.file = *krlist::readPo(text);
    entries = script.file.entries.size();
    for (std::size_t i = 0; i < entries; ++i) {
      krlist::edit::EditedLine line;
      line.offset = static_cast<std::uint32_t>(0x10 * (i + 1));
      line.opcode = i < 2 || i == 4 ? 0x2B : 0x1B;
      line.entry = i;
      if (line.opcode == 0x1B) {
        line.speakers = {"Alice"};
      }
      script.lines.push_back(line);
    }
    script.stamp = krlist::edit::stampOf(file);
    std::vector<krlist::edit::EditedScript> scripts;
    scripts.push_back(std::move(script));
    editor = std::make_unique<krlist::edit::Editor>(std::move(scripts),
                                                    krlist::edit::Presentation{}, kToken);
    editor->servedOn(kPort);
  }
  ~Game() {
    std::error_code ignored;
    fs::remove_all(file.parent_path(), ignored);
  }
};

Game& game() {
  static Game made;
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto part = [&input]() {
    const std::size_t end = std::min(input.find('\0'), input.size());
    const std::string_view taken = input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));
    return std::string(taken);
  };
  krlist::http::Request request;
  request.method = part();
  request.target = part();
  const std::string choices = part();
  const auto choice = [&choices](std::size_t i) {
    return i < choices.size() ? static_cast<unsigned char>(choices[i]) % 4 : 0;
  };
  const std::string port = std::to_string(kPort);
  const std::string hosts[] = {"127.0.0.1:" + port, "localhost:" + port, "evil.example:" + port,
                               "127.0.0.1"};
  const std::string cookies[] = {"krscript-edit=" + kToken, "", "krscript-edit=" + kToken + "b",
                                 "other=1; krscript-edit=" + kToken};
  const std::string origins[] = {"http://127.0.0.1:" + port, "", "http://evil.example",
                                 "http://localhost:" + port};
  request.host = hosts[choice(0)];
  request.cookie = cookies[choice(1)];
  request.origin = origins[choice(2)];
  request.body = std::string(input);

  Game& made = game();
  const krlist::http::Response response = made.editor->handle(request);
  const bool refused = response.status == 403 && response.body.empty();
  // The address printed gives the key once, for the cookie.
  const bool givesKey =
      response.status == 303 && request.target.find("token=" + kToken) != std::string::npos;
  const bool keyed = choice(1) == 0 || choice(1) == 3;
  const bool ownOrigin = choice(2) == 0 || choice(2) == 3;
  check(choice(0) < 2 || refused, "a request for another host was answered");
  check(keyed || refused || givesKey, "a request without the key was answered");
  check(request.method != "POST" || ownOrigin || refused || givesKey,
        "a write from another origin was answered");
  if (response.contentType.rfind("application/json", 0) == 0) {
    // Read in place, so that the parser keeps no stack of its own.
    std::string answer = response.body;
    rapidjson::InsituStringStream stream(answer.data());
    rapidjson::BaseReaderHandler<> ignored;
    rapidjson::Reader reader;
    check(response.body.find('\0') == std::string::npos &&
              krlist::findInvalidUtf8(response.body) == std::string::npos &&
              !reader.Parse<rapidjson::kParseInsituFlag>(stream, ignored).IsError(),
          "a JSON answer is not JSON");
  }
  const krlist::Expected<std::string> text = krlist::readFile(made.file);
  check(static_cast<bool>(text), "the translation file is gone");
  const krlist::Expected<krlist::TranslationFile> read = krlist::readPo(*text);
  check(static_cast<bool>(read), "the translation file no longer reads");
  check(read->entries.size() == made.entries, "the translation file lost or gained entries");
  return 0;
}

#if !defined(KRLIST_LIBFUZZER)
namespace {

// Requests a page makes (its pages, its questions and its saves), and those
// that broke it once.
int writeSeeds(const fs::path& folder) {
  fs::create_directories(folder);
  const std::string save =
      R"({"script":"a.kr","offset":"00000030","target":"Hola, {name}.","comment":"",)"
      R"("base":{"target":"","comment":"","fuzzy":false}})";
  const auto seed = [](std::string_view method, std::string_view target, std::string_view choices,
                       std::string_view body) {
    std::string made(method);
    made.append(1, '\0').append(target).append(1, '\0').append(choices).append(1, '\0');
    return made.append(body);
  };
  const std::string seeds[] = {
      seed("GET", "/?token=" + kToken, "\x01\x01\x01", ""),
      seed("GET", "/a.kr.html", "", ""),
      seed("GET", "/api/lines?script=a.kr&at=00000030", "", ""),
      seed("GET", "/api/suggest?script=a.kr&offset=00000050", "", ""),
      seed("POST", "/api/check", "", R"({"script":"a.kr","offset":"00000030","target":"  Hi"})"),
      seed("POST", "/api/save", "", save),
      // A body cut inside a character, which the parser's own check of
      // UTF-8 read past the end of.
      seed("POST", "/api/save", "", "{\"script\":\"\xF4"),
  };
  int number = 0;
  for (const std::string& bytes : seeds) {
    std::FILE* out =
        std::fopen((folder / ("seed-" + std::to_string(++number))).string().c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
      return 1;
    }
    std::fclose(out);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--seeds") {
    return writeSeeds(argv[2]);
  }
  return replayFiles(argc - 1, argv + 1);
}
#endif
