#include "profile/Profile.h"

#include <toml++/toml.h>

#include <limits>
#include <system_error>
#include <tuple>
#include <utility>

#include "format/OpcodeTable.h"
#include "io/Files.h"

namespace krlist {

const TextBox* Profile::boxFor(std::uint8_t opcode) const {
  if (const auto found = opcodes.find(opcode); found != opcodes.end()) {
    return &found->second;
  }
  return box ? &*box : nullptr;
}

namespace {

// What one box table gives, each key with the place of its value; a key the
// table does not give is left empty, to be taken from [box].
template <class T>
struct Given {
  std::optional<T> value;
  toml::source_region place;
  explicit operator bool() const { return value.has_value(); }
};

struct BoxKeys {
  std::string name;  // "[box]" or "[box.opcode.1C]", as messages name it
  toml::source_region place;
  Given<std::filesystem::path> font;
  Given<std::uint32_t> fontIndex;
  Given<std::filesystem::path> widths;
  Given<std::uint32_t> defaultWidth;
  Given<std::uint32_t> size;
  Given<std::uint32_t> width;
  Given<std::uint32_t> lines;
  Given<std::string> lineBreak;
  std::map<std::string, std::string> placeholders;
  // Whether the table gives anything of a box at all.
  bool any = false;
};

std::string_view typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "a list";
    case toml::node_type::string:
      return "text";
    case toml::node_type::integer:
      return "a whole number";
    case toml::node_type::floating_point:
      return "a number with a fraction";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::date:
    case toml::node_type::time:
    case toml::node_type::date_time:
      return "a date or time";
    case toml::node_type::none:
      break;
  }
  return "nothing";
}

// The opcodes whose strings a box may be given for: those with a string operand.
std::string stringOpcodes() {
  std::vector<std::string> names;
  for (std::size_t opcode = 0; opcode < kOpcodeTable.size(); ++opcode) {
    if (kOpcodeTable[opcode].known && kOpcodeTable[opcode].kind == OperandKind::String) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      names.push_back({kHex[opcode >> 4], kHex[opcode & 0xF]});
    }
  }
  std::string list;
  for (std::size_t at = 0; at < names.size(); ++at) {
    list += at == 0 ? "" : at + 1 == names.size() ? " or " : ", ";
    list += names[at];
  }
  return list;
}

class ProfileReader {
 public:
  ProfileReader(const std::filesystem::path& file)
      : fileName_(pathToUtf8(file)), folder_(file.parent_path()) {}

  Expected<Profile> read(std::string_view text, const std::filesystem::path& file) {
    toml::parse_result parsed = toml::parse(text, fileName_);
    if (!parsed) {
      const toml::parse_error& error = parsed.error();
      return at(error.source(), std::string(error.description()));
    }
    Profile profile;
    profile.file = file;
    if (!readTop(parsed.table(), profile) || !openFaces(profile)) {
      return std::move(*problem_);
    }
    return profile;
  }

 private:
  Problem at(const toml::source_region& place, std::string message) const {
    return Problem{{fileName_, place.begin.line, place.begin.column, {}}, std::move(message)};
  }
  bool refuse(const toml::source_region& place, std::string message) {
    if (!problem_) {
      problem_ = at(place, std::move(message));
    }
    return false;
  }
  bool wrongType(const toml::key& key, const toml::node& node, std::string_view wanted) {
    return refuse(node.source(), "`" + std::string(key.str()) + "` is " +
                                     std::string(typeName(node)) + "; it must be " +
                                     std::string(wanted));
  }

  bool readText(const toml::key& key, const toml::node& node, std::string& out) {
    const std::optional<std::string> text = node.value_exact<std::string>();
    if (!text) {
      return wrongType(key, node, "text");
    }
    if (text->empty()) {
      return refuse(node.source(), "`" + std::string(key.str()) + "` is empty");
    }
    out = *text;
    return true;
  }
  bool readPath(const toml::key& key, const toml::node& node, std::filesystem::path& out) {
    std::string text;
    if (!readText(key, node, text)) {
      return false;
    }
    out = folder_ / pathFromUtf8(text);  // an absolute path stays as it is
    return true;
  }
  bool readNumber(const toml::key& key, const toml::node& node, std::uint32_t least,
                  std::uint32_t most, std::uint32_t& out) {
    const std::string wanted =
        "a whole number from " + std::to_string(least) + " to " + std::to_string(most);
    const std::optional<std::int64_t> number = node.value_exact<std::int64_t>();
    if (!number) {
      return wrongType(key, node, wanted);
    }
    if (*number < least || *number > most) {
      return refuse(node.source(), "`" + std::string(key.str()) + "` is " +
                                       std::to_string(*number) + "; it must be " + wanted);
    }
    out = static_cast<std::uint32_t>(*number);
    return true;
  }
  template <class T, class Read>
  bool readGiven(const toml::node& node, Given<T>& given, Read read) {
    T value{};
    if (!read(value)) {
      return false;
    }
    given.value = std::move(value);
    given.place = node.source();
    return true;
  }
  bool readPatterns(const toml::key& key, const toml::node& node, std::vector<std::string>& out) {
    const toml::array* list = node.as_array();
    if (list == nullptr) {
      return wrongType(key, node, "a list of patterns");
    }
    for (const toml::node& item : *list) {
      std::string pattern;
      const std::optional<std::string> text = item.value_exact<std::string>();
      if (!text) {
        return refuse(item.source(), "a pattern of `" + std::string(key.str()) + "` is " +
                                         std::string(typeName(item)) + "; it must be text");
      }
      if (text->empty()) {
        return refuse(item.source(), "a pattern of `" + std::string(key.str()) + "` is empty");
      }
      out.push_back(*text);
    }
    return true;
  }

  bool readTop(const toml::table& root, Profile& profile) {
    for (const auto& [key, node] : root) {
      const std::string_view name = key.str();
      if (name == "encoding") {
        std::string text;
        if (!readText(key, node, text)) {
          return false;
        }
        profile.encoding = encodingFromName(text);
        if (!profile.encoding) {
          return refuse(node.source(),
                        "`encoding` is \"" + text + "\"; it must be \"utf-8\" or \"cp932\"");
        }
      } else if (name == "language") {
        if (!readText(key, node, profile.language.emplace())) {
          return false;
        }
      } else if (name == "include" || name == "exclude") {
        if (!readPatterns(key, node, name == "include" ? profile.include : profile.exclude)) {
          return false;
        }
      } else if (name == "substitute") {
        if (!readPath(key, node, profile.substitute.emplace())) {
          return false;
        }
      } else if (name == "glossary") {
        if (!readPath(key, node, profile.glossary.emplace())) {
          return false;
        }
      } else if (name == "source-language") {
        if (!readText(key, node, profile.sourceLanguage.emplace())) {
          return false;
        }
      } else if (name == "box") {
        if (!readBoxes(key, node, profile)) {
          return false;
        }
      } else {
        return refuse(key.source(), "unknown key `" + std::string(name) +
                                        "`: a profile has encoding, language, source-language, "
                                        "include, exclude, substitute, glossary and [box]");
      }
    }
    return true;
  }

  bool readBox(const toml::table& table, BoxKeys& box, const toml::table** opcodes) {
    for (const auto& entry : table) {
      // Named apart rather than bound, for the lambdas below to capture.
      const toml::key& key = entry.first;
      const toml::node& node = entry.second;
      const std::string_view name = key.str();
      const auto number = [&](std::uint32_t least, std::uint32_t most) {
        return [&, least, most](std::uint32_t& out) {
          return readNumber(key, node, least, most, out);
        };
      };
      const auto path = [&](std::filesystem::path& out) { return readPath(key, node, out); };
      bool read = true;
      if (name == "font") {
        read = readGiven(node, box.font, path);
      } else if (name == "font-index") {
        read = readGiven(node, box.fontIndex, number(0, std::numeric_limits<std::int32_t>::max()));
      } else if (name == "widths") {
        read = readGiven(node, box.widths, path);
      } else if (name == "default") {
        read = readGiven(node, box.defaultWidth, number(0, kMaxAdvance));
      } else if (name == "size") {
        read = readGiven(node, box.size, number(1, kMaxPixelsPerEm));
      } else if (name == "width") {
        read = readGiven(node, box.width, number(1, std::numeric_limits<std::int32_t>::max()));
      } else if (name == "lines") {
        read = readGiven(node, box.lines, number(1, std::numeric_limits<std::int32_t>::max()));
      } else if (name == "line-break") {
        read = readGiven(node, box.lineBreak,
                         [&](std::string& out) { return readText(key, node, out); });
      } else if (name == "placeholders") {
        read = readPlaceholders(key, node, box.placeholders);
      } else if (name == "opcode" && opcodes != nullptr) {
        *opcodes = node.as_table();
        if (*opcodes == nullptr) {
          return wrongType(key, node, "a table of boxes by opcode");
        }
        continue;
      } else {
        return refuse(key.source(),
                      "unknown key `" + std::string(name) + "` in " + box.name +
                          ": a box has font, font-index, widths, default, size, "
                          "width, lines, line-break" +
                          (opcodes != nullptr ? ", placeholders and opcode" : " and placeholders"));
      }
      if (!read) {
        return false;
      }
      box.any = true;
    }
    if (box.font && box.widths) {
      const auto& later = box.font.place.begin < box.widths.place.begin ? box.widths : box.font;
      return refuse(later.place, box.name + " has both `font` and `widths`: a box has one");
    }
    if (box.widths && box.size) {
      return refuse(box.size.place,
                    box.name + " has `widths`, in pixels already: `size` is for a font");
    }
    return true;
  }

  bool readPlaceholders(const toml::key& key, const toml::node& node,
                        std::map<std::string, std::string>& out) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      return wrongType(key, node, "a table of placeholders and the text each stands for");
    }
    for (const auto& [placeholder, text] : *table) {
      const std::optional<std::string> value = text.value_exact<std::string>();
      if (placeholder.str().empty()) {
        return refuse(placeholder.source(), "an empty placeholder");
      }
      if (!value) {
        return refuse(text.source(), "placeholder `" + std::string(placeholder.str()) + "` is " +
                                         std::string(typeName(text)) +
                                         "; it must be the text it stands for");
      }
      out.emplace(std::string(placeholder.str()), *value);
    }
    return true;
  }

  bool readBoxes(const toml::key& key, const toml::node& node, Profile& profile) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      return wrongType(key, node, "a table");
    }
    BoxKeys top;
    top.name = "[box]";
    top.place = table->source();
    const toml::table* opcodes = nullptr;
    if (!readBox(*table, top, &opcodes)) {
      return false;
    }
    if (top.any) {
      if (!resolve(top, nullptr, profile.box.emplace())) {
        return false;
      }
    }
    if (opcodes == nullptr) {
      return true;
    }
    for (const auto& [name, box] : *opcodes) {
      const std::optional<std::uint8_t> opcode = parseOpcode(name.str());
      if (!opcode) {
        return refuse(name.source(), "`" + std::string(name.str()) +
                                         "` is not an opcode with a string: a box is for opcode " +
                                         stringOpcodes());
      }
      const toml::table* boxTable = box.as_table();
      if (boxTable == nullptr) {
        return refuse(box.source(), "the box of opcode " + std::string(name.str()) + " is " +
                                        std::string(typeName(box)) + "; it must be a table");
      }
      if (profile.opcodes.count(*opcode) != 0) {
        return refuse(name.source(), "a second box for opcode " + std::string(name.str()));
      }
      BoxKeys keys;
      keys.name = "[box.opcode." + std::string(name.str()) + "]";
      keys.place = boxTable->source();
      if (!readBox(*boxTable, keys, nullptr)) {
        return false;
      }
      if (!resolve(keys, top.any ? &top : nullptr, profile.opcodes[*opcode])) {
        return false;
      }
    }
    return true;
  }

  // Two hex digits naming an opcode with a string operand.
  static std::optional<std::uint8_t> parseOpcode(std::string_view name) {
    if (name.size() != 2) {
      return std::nullopt;
    }
    unsigned value = 0;
    for (const char digit : name) {
      value <<= 4;
      if (digit >= '0' && digit <= '9') {
        value |= static_cast<unsigned>(digit - '0');
      } else if (digit >= 'A' && digit <= 'F') {
        value |= static_cast<unsigned>(digit - 'A' + 10);
      } else if (digit >= 'a' && digit <= 'f') {
        value |= static_cast<unsigned>(digit - 'a' + 10);
      } else {
        return std::nullopt;
      }
    }
    const OpcodeInfo& info = kOpcodeTable[value];
    if (!info.known || info.kind != OperandKind::String) {
      return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
  }

  // A box with what `own` does not give taken from `base` ([box], or none).
  // A font or a widths table given brings its own face index or default;
  // `font-index` or `default` alone picks another face of [box]'s font, or
  // another default for its table.
  bool resolve(const BoxKeys& own, const BoxKeys* base, TextBox& box) {
    const BoxKeys empty{};
    const BoxKeys& from = base != nullptr ? *base : empty;
    const bool ownFace = own.font || own.widths;
    const BoxKeys& face = ownFace ? own : from;
    if (!face.font && !face.widths) {
      return refuse(own.place, own.name + " has no `font` or `widths`");
    }
    const auto pick = [&](const auto& key) -> const auto& {
      return own.*key ? own.*key : from.*key;
    };
    if (face.font) {
      box.font = *face.font.value;
      const auto& index = ownFace ? own.fontIndex : pick(&BoxKeys::fontIndex);
      box.fontIndex = index.value.value_or(0);
      if (own.defaultWidth) {
        return refuse(own.defaultWidth.place,
                      own.name + " has a font: `default` is for a widths table");
      }
      const auto& size = pick(&BoxKeys::size);
      if (!size) {
        return refuse(own.place, own.name + " has no `size`");
      }
      box.size = *size.value;
    } else {
      box.widths = *face.widths.value;
      box.defaultWidth = (ownFace ? own.defaultWidth : pick(&BoxKeys::defaultWidth)).value;
      if (own.fontIndex) {
        return refuse(own.fontIndex.place,
                      own.name + " has a widths table: `font-index` is for a font");
      }
    }
    const auto& width = pick(&BoxKeys::width);
    if (!width) {
      return refuse(own.place, own.name + " has no `width`");
    }
    box.width = *width.value;
    box.lines = pick(&BoxKeys::lines).value;
    if (const auto& lineBreak = pick(&BoxKeys::lineBreak)) {
      box.lineBreak = *lineBreak.value;
    }
    box.placeholders = own.placeholders;
    box.placeholders.insert(from.placeholders.begin(), from.placeholders.end());
    // Where a face that cannot be opened is told: where it is named, or
    // where this box picks another face of [box]'s font.
    facePlaces_[&box] = own.fontIndex && !ownFace ? own.fontIndex.place
                        : face.font               ? face.font.place
                                                  : face.widths.place;
    return true;
  }

  // Opens each box's face, each font face and each widths table (with its
  // default) once, so that boxes with the same face share it.
  bool openFaces(Profile& profile) {
    std::vector<TextBox*> boxes;
    if (profile.box) {
      boxes.push_back(&*profile.box);
    }
    for (auto& [opcode, box] : profile.opcodes) {
      boxes.push_back(&box);
    }
    using FaceKey =
        std::tuple<bool, std::filesystem::path, std::uint32_t, std::optional<std::uint32_t>>;
    std::map<FaceKey, std::shared_ptr<FontMetrics>> opened;
    for (TextBox* box : boxes) {
      const bool isFont = !box->font.empty();
      const FaceKey key = isFont ? FaceKey{true, box->font, box->fontIndex, std::nullopt}
                                 : FaceKey{false, box->widths, 0, box->defaultWidth};
      std::shared_ptr<FontMetrics>& face = opened[key];
      if (!face) {
        Expected<std::shared_ptr<FontMetrics>> made =
            isFont ? openFontFace(*box) : openWidths(*box);
        if (!made) {
          // A fault inside a widths table is told at its own line; one with
          // a whole file where the profile names it.
          if (made.problem().where.line != 0) {
            problem_ = made.problem();
            return false;
          }
          return refuse(facePlaces_.at(box), made.problem().describe());
        }
        face = std::move(*made);
      }
      box->face = face;
    }
    return true;
  }

  static Expected<std::shared_ptr<FontMetrics>> openFontFace(const TextBox& box) {
    Expected<std::unique_ptr<FontMetrics>> font = openFont(box.font, box.fontIndex);
    if (!font) {
      return font.problem();
    }
    return std::shared_ptr<FontMetrics>(std::move(*font));
  }

  static Expected<std::shared_ptr<FontMetrics>> openWidths(const TextBox& box) {
    Expected<std::string> text = readFile(box.widths);
    if (!text) {
      return text.problem();
    }
    Expected<WidthsTable> table =
        WidthsTable::read(*text, pathToUtf8(box.widths), box.defaultWidth);
    if (!table) {
      return table.problem();
    }
    return std::shared_ptr<FontMetrics>(std::make_shared<WidthsTable>(std::move(*table)));
  }

  std::string fileName_;
  std::filesystem::path folder_;
  std::optional<Problem> problem_;
  // Where each box's face is named, for a face that cannot be opened.
  std::map<const TextBox*, toml::source_region> facePlaces_;
};

}  // namespace

Expected<Profile> parseProfile(std::string_view text, const std::filesystem::path& file) {
  return ProfileReader(file).read(text, file);
}

Expected<Profile> readProfile(const std::filesystem::path& file) {
  Expected<std::string> text = readFile(file);
  if (!text) {
    return text.problem();
  }
  return parseProfile(*text, file);
}

std::optional<std::filesystem::path> findProfile(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::path at = std::filesystem::absolute(folder, error).lexically_normal();
  if (error) {
    return std::nullopt;
  }
  if (!at.empty() && !at.has_filename()) {
    at = at.parent_path();  // "dir/" normalised keeps its slash
  }
  while (true) {
    std::filesystem::path candidate = at / kProfileName;
    if (std::filesystem::is_regular_file(candidate, error)) {
      return candidate;
    }
    const std::filesystem::path above = at.parent_path();
    if (above == at || above.empty()) {
      return std::nullopt;
    }
    at = above;
  }
}

}  // namespace krlist
