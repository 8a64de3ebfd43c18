#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/Problem.h"
#include "translate/TranslationFile.h"

namespace krlist {

// A game's memory: every translation its translators made, for lines and
// names that come again. A line said a hundred times, a speaker's name
// defined in every script, is translated once and found for the others: by
// the same source text, or else by the most similar one, as update measures
// it (textSimilarity), to review.

// Hashes a text however it is held, for a map of strings to be asked with a
// view of one.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

// Whether a file in a folder given as a memory is one to read: .po, .csv
// or .tmx.
bool isMemoryFile(const std::filesystem::path& path);

// The entries of one memory file, read by its extension. A TMX file gives
// its variants in `language` as the translations, when it holds them, or
// else those of the first other language (readTmx). A problem names the
// file.
Expected<EntryList> readMemoryFile(const std::filesystem::path& path,
                                   std::string_view language = {});

struct MemoryMatch {
  enum class Kind : std::uint8_t {
    none,     // nothing in the memory, or nothing similar enough
    exact,    // the same source, translated one way
    several,  // the same source, translated more ways: the most given
    similar,  // the most similar source's translation
  };
  Kind kind = Kind::none;
  std::string_view target;
  // For `similar`: the memory's source the translation was made for.
  std::string_view source;
  // For `several`: the other translations, the most given first.
  std::vector<std::string_view> others;
};

// What the memory offers for a text: a translation of the same text, or of a
// similar one.
struct Suggestion {
  std::string_view source;  // the memory's source the translation was made for
  std::string_view target;
  double score = 1;       // textSimilarity of the two sources; 1 for the same text
  std::size_t count = 1;  // how many times the memory was given this translation of it
};

class TranslationMemory {
 public:
  // Takes the translated entries (neither fuzzy nor obsolete) of `entries`.
  // Entries are added in the run's order, which settles ties.
  void add(const EntryList& entries);
  // Prepares the search for sources at least `similarity` alike (0 to 1).
  // Nothing is added after.
  void index(double similarity);

  std::size_t sources() const { return sources_.size(); }

 private:
  friend class MemorySearch;

  struct Translation {
    std::string target;
    std::size_t count = 0;
  };
  struct Source {
    std::string text;
    std::vector<Translation> translations;  // in the order first given
    std::size_t chosen = 0;                 // the most given, the first of equals
  };

  std::vector<Source> sources_;  // in the order first given
  // The characters of every source, one after the other, for the search to
  // compare many with little memory to go through: source s's are
  // characters_[charactersAt_[s] .. charactersAt_[s + 1]). Each character
  // is kept as a number from 0, in the order first met, so that a search
  // finds what it knows of a character at that place in a table; comparing
  // numbers compares the characters. The numbers of the characters below
  // kTabled, nearly all of any text, are found in a table by character
  // (kNoId for one no source has), those of the others in idOf_.
  static constexpr char32_t kTabled = 0x10000;
  static constexpr std::uint32_t kNoId = UINT32_MAX;
  std::vector<std::uint32_t> tabledIds_;
  std::unordered_map<char32_t, std::uint32_t> idOf_;
  std::uint32_t characterCount_ = 0;  // the numbers given
  std::size_t longestSource_ = 0;
  std::u32string characters_;
  std::vector<std::uint32_t> charactersAt_;
  // For each of characters_, how many times its source had it before: with
  // the text's count of each character, what the two share counted with
  // repetition, at most what they share in order. Kept to 255 at most, a
  // byte each for a search to go through less: a count cut short makes the
  // bound no lower.
  std::vector<std::uint8_t> before_;
  // A text's characters counted by a hash of each into a few buckets: what
  // two texts share counted with repetition is at most the least of each
  // bucket's counts, added up. For texts of up to kCounted characters, which
  // no count overflows; a longer source's are all kCounted, which bounds
  // nothing for such a text.
  static constexpr std::size_t kBuckets = 32;
  static constexpr std::size_t kCounted = 255;
  using Buckets = std::array<std::uint8_t, kBuckets>;
  static std::size_t bucketOf(char32_t id) {
    return (std::uint32_t{id} * 2654435761U) >> 27;  // 32 buckets
  }
  // A text's characters as the buckets of kPresent they fall in, a bit
  // each, by another hash: a source's characters in buckets where the text
  // has none are characters the text lacks, at least one a bucket. A bound
  // on what the two share from a few bytes, for texts of any length.
  static constexpr unsigned kPresent = 56;
  static std::uint64_t presentBit(char32_t id) {
    const std::uint64_t hash = std::uint32_t{id} * 0x9E3779B1U;
    return std::uint64_t{1} << ((hash * kPresent) >> 32);
  }
  // The characters of UTF-8 `text` (as codePoints reads them) as numbers, in
  // `out`; one no source has as characterCount_.
  void numbered(std::string_view text, std::u32string& out) const;
  std::u32string_view charactersOf(std::uint32_t s) const {
    return std::u32string_view(characters_)
        .substr(charactersAt_[s], charactersAt_[s + 1] - charactersAt_[s]);
  }
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> sourceAt_;
  double similarity_ = 1;
  // Each character of a source, with how many times it came before in that
  // source (the third "は" is its own token), is a token; tokens are ranked
  // rarest first. Each source is filed under the rarest of its tokens, as
  // many as any text similar enough to it must share one of (see
  // Memory.cpp), in a compressed table: under rank r, runs_[firstRun_[r] ..
  // firstRun_[r + 1]), one for each length from the shortest; run k's
  // sources are filed_[runs_[k].first .. runs_[k + 1].first) (a last run
  // ends the table), by where the token lies among their own, rarest first.
  struct Run {
    std::uint32_t length;
    std::uint32_t first;
  };
  // Token k of character c (its k + 1st time in a source) is number
  // firstToken_[c] + k, for k below what firstToken_[c + 1] leaves; rankOf_
  // is by that number.
  std::vector<std::uint32_t> firstToken_;
  std::vector<std::uint32_t> rankOf_;
  static constexpr std::uint32_t kUnknown = UINT32_MAX;
  // A token's rank, or kUnknown for one no source has.
  std::uint32_t rankOf(std::uint64_t token) const {
    const std::size_t c = token >> 32;
    if (c + 1 >= firstToken_.size()) {
      return kUnknown;
    }
    const std::size_t at = firstToken_[c] + static_cast<std::uint32_t>(token);
    return at < firstToken_[c + 1] ? rankOf_[at] : kUnknown;
  }
  std::vector<std::uint32_t> firstRun_;
  std::vector<Run> runs_;
  std::vector<std::uint32_t> filed_;
  // Each of filed_ as where the token lies in it (kPositionShift up) and its
  // buckets present (presentBit): what a search goes through, 8 bytes each,
  // in order, and where the positions it takes in a run end. A position is
  // kept to kLastPosition at most: one kept lower than it is only bounds what the
  // source shares by more.
  static constexpr unsigned kPositionShift = kPresent;
  static constexpr std::uint32_t kLastPosition = (1U << (64 - kPositionShift)) - 1;
  static constexpr std::uint64_t kPresentBits = (std::uint64_t{1} << kPresent) - 1;
  std::vector<std::uint64_t> filedKeys_;
  // Each source's buckets. Most sources met are found not similar enough by
  // these and their length alone: 32 bytes each, few enough to stay at hand
  // however many times a search meets them.
  std::vector<Buckets> buckets_;
  // Sources every text is similar enough to (a similarity of 0).
  std::vector<std::uint32_t> everywhere_;
};

// Lookups in a memory, one thread each: the room a search works in, and the
// answers already given, for a text that comes again.
class MemorySearch {
 public:
  explicit MemorySearch(const TranslationMemory& memory);
  const MemoryMatch& find(std::string_view source);
  // Every translation the memory holds of `source`, the most given first (ties
  // in the run's order), then the chosen translations of up to `most` other
  // sources at least the memory's similarity alike, most similar first (ties in
  // the run's order). Views into the memory.
  std::vector<Suggestion> suggest(std::string_view source, std::size_t most);

 private:
  MemoryMatch search(std::string_view source);
  // A source with its score against the text searched for.
  struct Scored {
    std::uint32_t source;
    double score;
  };
  // Leaves in best_ the up to `most` sources most similar to `text` among
  // those at least memory_.similarity_ alike, but for source `except`: the
  // most similar first, the first of equals first. None for an empty text.
  void mostSimilar(const std::u32string& text, std::size_t most, std::uint32_t except);
  void mostSimilarAmong(const std::u32string& text, std::size_t most, std::uint32_t except);
  // The characters `text_` shares in order with `other`.
  std::size_t common(std::u32string_view other) const;
  // The characters `text_` shares with source `s` in any order, counted
  // with repetition: a bound on common() as cheap as a look at each.
  std::size_t sharedAtMost(std::uint32_t s) const;
  static std::size_t sharedInBuckets(const TranslationMemory::Buckets& a,
                                     const TranslationMemory::Buckets& b);

  const TranslationMemory& memory_;
  void walk(const std::u32string& text, std::size_t prefix);

  // Per source: the lookup that last met it, and in that lookup the tokens
  // it shared so far and how many characters it can share at most.
  struct Met {
    std::uint32_t lookup = 0;
    std::uint32_t shared = 0;
    std::uint32_t most = 0;
    std::uint32_t length = 0;  // the source's, in characters
  };
  std::vector<Met> met_;
  std::vector<std::uint32_t> firstMet_;  // the sources met, in the order met
  std::uint32_t lookup_ = 0;
  struct Candidate {
    std::uint32_t source;
    std::uint32_t most;    // characters it can share with the text at most
    std::uint32_t length;  // its own, in characters
  };
  std::vector<Candidate> candidates_;
  std::vector<Scored> best_;
  std::vector<std::uint32_t> ranks_;
  std::vector<std::uint32_t> need_;  // by length from the shortest allowed
  std::unordered_map<std::string, MemoryMatch, TextHash, std::equal_to<>> found_;
  std::u32string numberedText_;  // the text searched for, as numbers
  // The text searched for, and for one of up to kWords * 64 characters,
  // where each character of the memory is in it, a bit each: kWords words
  // per character.
  static constexpr std::size_t kWords = 4;
  const std::u32string* text_ = nullptr;
  std::vector<std::uint64_t> where_;
  // How many times the text has each character of the memory, and its
  // buckets (TranslationMemory::Buckets) when it has few enough characters.
  std::vector<std::uint32_t> inText_;
  TranslationMemory::Buckets textBuckets_{};
  std::uint64_t textPresent_ = 0;
  // For the text's tokens: how many times each character came so far, and
  // the tokens.
  std::vector<std::uint32_t> seen_;
  std::vector<std::uint64_t> tokens_;
  // The places in a run of the sources a walk meets, and whether the
  // machine counts the bits of a number in one instruction.
  std::vector<std::uint32_t> taken_;
  bool popcount_;
};

// What a fill did to the entries of one script.
struct FillCounts {
  std::size_t exact = 0;  // translated from the same source
  std::size_t fuzzy = 0;  // translated, to review
  std::size_t empty = 0;  // still untranslated
  FillCounts& operator+=(const FillCounts& other);
};

// The comment a translation chosen among several carries for its reviewer.
std::string otherTranslationsComment(const std::vector<std::string_view>& others);

// Fills `entry` from the memory when it is a string of the script (not
// obsolete) with no translation; counts what it did.
void fillEntry(TranslationEntry& entry, MemorySearch& search, FillCounts& counts);

}  // namespace krlist
