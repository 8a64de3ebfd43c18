#include "translate/Memory.h"

#include <algorithm>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "io/Files.h"
#include "text/Utf8.h"
#include "translate/PoFile.h"
#include "translate/TmxFile.h"
#include "translate/TranslationFormat.h"
#include "translate/Update.h"

namespace krlist {

namespace {

// Two texts of `total` characters together are at least `s` alike when they
// share at least this many characters. Worked out with the expression
// textSimilarity uses, so that a bound never disagrees with a score by a
// rounding.
std::size_t fewestShared(std::size_t total, double s) {
  const auto reaches = [total, s](std::size_t shared) {
    return 2.0 * static_cast<double>(shared) / static_cast<double>(total) >= s;
  };
  auto shared = static_cast<std::size_t>(s * static_cast<double>(total) / 2);
  while (shared > 0 && reaches(shared - 1)) {
    --shared;
  }
  while (!reaches(shared)) {
    ++shared;
  }
  return shared;
}

// Texts of n and m characters share at most the shorter's characters.
bool lengthsAllow(std::size_t n, std::size_t m, double s) {
  return 2.0 * static_cast<double>(std::min(n, m)) / static_cast<double>(n + m) >= s;
}

// The fewest characters a text of n characters shares with any text similar
// enough to it: with the shortest one its length allows, as the bound grows
// with the length of the other.
std::size_t fewestSharedWithAny(std::size_t n, double s) {
  auto m = static_cast<std::size_t>(static_cast<double>(n) * s / (2 - s));
  m = std::max<std::size_t>(m, 1);
  while (m > 1 && lengthsAllow(n, m - 1, s)) {
    --m;
  }
  while (!lengthsAllow(n, m, s)) {
    ++m;
  }
  return fewestShared(n + m, s);
}

// The tokens of a text: each character with the number of times it came
// before, so that two texts share as many tokens as they share characters
// counted with repetition, which is at least how many they share in order.
// The characters are numbers below before.size(), which counts for each how
// many times it came so far: all 0, and left so.
void tokensOf(const std::u32string& characters, std::vector<std::uint32_t>& before,
              std::vector<std::uint64_t>& tokens) {
  tokens.resize(characters.size());
  for (std::size_t i = 0; i < characters.size(); ++i) {
    tokens[i] = std::uint64_t{characters[i]} << 32 | before[characters[i]]++;
  }
  for (const char32_t c : characters) {
    before[c] = 0;
  }
}

}  // namespace

bool isMemoryFile(const std::filesystem::path& path) {
  return formatOfPath(path) || path.extension() == ".tmx";
}

Expected<EntryList> readMemoryFile(const std::filesystem::path& path, std::string_view language) {
  const std::optional<TranslationFormat> format = formatOfPath(path);
  const bool tmx = path.extension() == ".tmx";
  if (!format && !tmx) {
    return Problem::about(pathToUtf8(path),
                          "not a memory: give PO, CSV, XLSX or TMX files, or folders of them");
  }
  const Expected<std::string> text = readFile(path);
  if (!text) {
    return text.problem();
  }
  EntryList entries;
  entries.reserve(text->size() / 64, text->size());
  if (tmx) {
    // A unit is a translated entry like any other.
    Expected<std::vector<MemoryUnit>> units = readTmx(*text, pathToUtf8(path), language);
    if (!units) {
      return units.problem();
    }
    TranslationEntry entry;
    for (MemoryUnit& unit : *units) {
      entry.source = std::move(unit.source);
      entry.target = std::move(unit.target);
      entry.line = entry.targetLine = unit.line;
      entries.add(entry);
    }
    return entries;
  }
  const EntrySink take = [&entries](const TranslationEntry& entry) { entries.add(entry); };
  // A PO memory may be any PO file (a compendium); the others are read as
  // translation files.
  const auto read = *format == TranslationFormat::Po ? readPoMemoryEntries(*text, take)
                                                     : readTranslationEntries(*format, *text, take);
  if (!read) {
    Problem problem = read.problem();
    problem.where.file = pathToUtf8(path);
    return problem;
  }
  return entries;
}

void TranslationMemory::add(const EntryList& entries) {
  for (std::size_t e = 0; e < entries.size(); ++e) {
    if (entries.target(e).empty() || entries.fuzzy(e) || entries.obsolete(e)) {
      continue;
    }
    const std::string_view source = entries.source(e);
    auto at = sourceAt_.find(source);
    if (at == sourceAt_.end()) {
      at =
          sourceAt_.emplace(std::string(source), static_cast<std::uint32_t>(sources_.size())).first;
      sources_.emplace_back().text = source;
    }
    Source& known = sources_[at->second];
    const std::string_view target = entries.target(e);
    auto same = std::find_if(known.translations.begin(), known.translations.end(),
                             [target](const Translation& t) { return t.target == target; });
    if (same == known.translations.end()) {
      known.translations.push_back({std::string(target), 0});
      same = known.translations.end() - 1;
    }
    ++same->count;
  }
}

// A source is found through its tokens (tokensOf): a text at least `s` alike
// to it shares at least t of them, t = fewestSharedWithAny of its length.
// With every token ranked the same way for all texts, rarest first, two
// sets that share t tokens share one among the first |X| - t + 1 of each:
// otherwise the t shared ones would all lie in the last t - 1 of one of them.
// So a source is filed under its first m - t + 1 tokens only, and a text
// looks under its own first n - t + 1: of those, the common ones are the
// rare ones, and the few sources found are compared in full. No source that
// could reach the similarity is missed.
void TranslationMemory::index(double similarity) {
  similarity_ = similarity;
  buckets_.assign(sources_.size(), Buckets{});
  // For each of characters_, how many times its source had it before, in
  // full, and its token's number (firstToken_), then rank.
  std::vector<std::uint32_t> occurrence;
  std::vector<std::uint32_t> before;
  std::u32string characters;
  tabledIds_.assign(kTabled, kNoId);
  for (std::size_t s = 0; s < sources_.size(); ++s) {
    // The translation given most often; of those given as often, the first.
    Source& source = sources_[s];
    for (std::size_t t = 1; t < source.translations.size(); ++t) {
      if (source.translations[t].count > source.translations[source.chosen].count) {
        source.chosen = t;
      }
    }
    characters = codePoints(sources_[s].text);
    for (char32_t& c : characters) {
      std::uint32_t& id = c < kTabled ? tabledIds_[c] : idOf_.try_emplace(c, kNoId).first->second;
      if (id == kNoId) {
        id = characterCount_++;
      }
      c = id;
    }
    charactersAt_.push_back(static_cast<std::uint32_t>(characters_.size()));
    characters_ += characters;
    longestSource_ = std::max(longestSource_, characters.size());
    Buckets& counted = buckets_[s];
    if (characters.size() <= kCounted) {
      for (const char32_t c : characters) {
        ++counted[bucketOf(c)];
      }
    } else {
      counted.fill(kCounted);
    }
    before.resize(characterCount_);
    for (const char32_t c : characters) {
      occurrence.push_back(before[c]);
      before_.push_back(static_cast<std::uint8_t>(std::min<std::uint32_t>(before[c], 255)));
      ++before[c];
    }
    for (const char32_t c : characters) {
      before[c] = 0;
    }
  }
  charactersAt_.push_back(static_cast<std::uint32_t>(characters_.size()));
  // A character's tokens are those of its first k times, k the most times
  // one source has it: numbered one character after the other, from
  // firstToken_.
  std::vector<std::uint32_t> most(characterCount_);
  for (std::size_t at = 0; at < characters_.size(); ++at) {
    most[characters_[at]] = std::max(most[characters_[at]], occurrence[at] + 1);
  }
  firstToken_.assign(characterCount_ + 1, 0);
  for (std::size_t c = 0; c < most.size(); ++c) {
    firstToken_[c + 1] = firstToken_[c] + most[c];
  }
  std::vector<std::uint32_t>& token = occurrence;
  std::vector<std::uint32_t> frequency(firstToken_.back());
  for (std::size_t at = 0; at < characters_.size(); ++at) {
    token[at] += firstToken_[characters_[at]];
    ++frequency[token[at]];
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranked;
  ranked.reserve(frequency.size());
  for (std::uint32_t t = 0; t < frequency.size(); ++t) {
    ranked.emplace_back(frequency[t], t);
  }
  std::sort(ranked.begin(), ranked.end());
  rankOf_.resize(ranked.size());
  for (std::size_t r = 0; r < ranked.size(); ++r) {
    rankOf_[ranked[r].second] = static_cast<std::uint32_t>(r);
  }
  // Each source's ranks, rarest first, and how many of them it is filed
  // under (0 for one every text is similar enough to); sources by length.
  std::vector<std::uint32_t>& rank = occurrence;
  std::vector<std::uint32_t> filedUnder(sources_.size());
  std::vector<std::uint32_t> byLength(longestSource_ + 2);
  std::vector<std::uint64_t> present(sources_.size());
  // Where the sources under each rank begin in filed_.
  std::vector<std::uint32_t> firstFiled(ranked.size() + 1);
  for (std::size_t s = 0; s < sources_.size(); ++s) {
    const auto from = rank.begin() + charactersAt_[s];
    const auto to = rank.begin() + charactersAt_[s + 1];
    for (auto at = from; at != to; ++at) {
      *at = rankOf_[*at];
    }
    std::sort(from, to);
    const std::size_t m = static_cast<std::size_t>(to - from);
    const std::size_t shared = m == 0 ? 0 : fewestSharedWithAny(m, similarity);
    if (shared == 0) {
      everywhere_.push_back(static_cast<std::uint32_t>(s));
      continue;
    }
    filedUnder[s] = static_cast<std::uint32_t>(m - shared + 1);
    for (const char32_t c : charactersOf(static_cast<std::uint32_t>(s))) {
      present[s] |= presentBit(c);
    }
    for (auto at = from; at != from + filedUnder[s]; ++at) {
      ++firstFiled[*at + 1];
    }
    ++byLength[m + 1];
  }
  for (std::size_t r = 0; r < ranked.size(); ++r) {
    firstFiled[r + 1] += firstFiled[r];
  }
  for (std::size_t m = 0; m + 1 < byLength.size(); ++m) {
    byLength[m + 1] += byLength[m];
  }
  std::vector<std::uint32_t> lengthOrder(byLength.back());
  for (std::size_t s = 0; s < sources_.size(); ++s) {
    if (filedUnder[s] != 0) {
      lengthOrder[byLength[charactersAt_[s + 1] - charactersAt_[s]]++] =
          static_cast<std::uint32_t>(s);
    }
  }
  // Filed length by length, from the shortest, and of each length position
  // by position: each rank's sources come in the order of their keys, for a
  // search to take only the lengths and positions that can still reach the
  // similarity.
  filed_.resize(firstFiled.back());
  filedKeys_.resize(firstFiled.back());
  std::vector<std::uint32_t> next(firstFiled.begin(), firstFiled.end() - 1);
  for (std::size_t first = 0; first < lengthOrder.size();) {
    const std::uint32_t m =
        charactersAt_[lengthOrder[first] + 1] - charactersAt_[lengthOrder[first]];
    std::size_t last = first;
    while (last < lengthOrder.size() &&
           charactersAt_[lengthOrder[last] + 1] - charactersAt_[lengthOrder[last]] == m) {
      ++last;
    }
    // Sources of one length are filed under as many of their ranks.
    for (std::uint32_t j = 0; j < filedUnder[lengthOrder[first]]; ++j) {
      for (std::size_t k = first; k < last; ++k) {
        const std::uint32_t s = lengthOrder[k];
        const std::uint32_t at = next[rank[charactersAt_[s] + j]]++;
        filed_[at] = s;
        filedKeys_[at] = std::uint64_t{std::min(j, kLastPosition)} << kPositionShift | present[s];
      }
    }
    first = last;
  }
  firstRun_.reserve(ranked.size() + 1);
  for (std::size_t r = 0; r < ranked.size(); ++r) {
    firstRun_.push_back(static_cast<std::uint32_t>(runs_.size()));
    for (std::uint32_t f = firstFiled[r]; f < firstFiled[r + 1]; ++f) {
      const std::uint32_t m = charactersAt_[filed_[f] + 1] - charactersAt_[filed_[f]];
      if (f == firstFiled[r] || runs_.back().length != m) {
        runs_.push_back({m, f});
      }
    }
  }
  firstRun_.push_back(static_cast<std::uint32_t>(runs_.size()));
  runs_.push_back({0, firstFiled.back()});
}

void TranslationMemory::numbered(std::string_view text, std::u32string& out) const {
  out.clear();
  for (std::size_t at = 0; at < text.size();) {
    const char32_t c = nextCharacter(text, at);
    std::uint32_t id = kNoId;
    if (c < kTabled) {
      id = tabledIds_.empty() ? kNoId : tabledIds_[c];
    } else if (const auto found = idOf_.find(c); found != idOf_.end()) {
      id = found->second;
    }
    out.push_back(id == kNoId ? characterCount_ : id);
  }
}

namespace {

// The bits set in x: by the machine's instruction for it, in a function
// built for machines that have one, or else counted in place.
template <bool kInstruction>
[[gnu::always_inline]] inline std::size_t bitsSet(std::uint64_t x) {
  if constexpr (kInstruction) {
    return static_cast<std::size_t>(__builtin_popcountll(x));
  } else {
    x -= (x >> 1) & 0x5555555555555555U;
    x = (x & 0x3333333333333333U) + ((x >> 2) & 0x3333333333333333U);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FU;
    return static_cast<std::size_t>((x * 0x0101010101010101U) >> 56);
  }
}

// The places from `first` to `last` of `keys` (filedKeys_), up to the first
// past `lastKey`, of sources with at most `slack` of their buckets present
// among `absent`: added to `taken`.
template <bool kInstruction>
[[gnu::always_inline]] inline void takeRun(const std::uint64_t* keys, std::uint32_t first,
                                           std::uint32_t last, std::uint64_t lastKey,
                                           std::uint64_t absent, std::size_t slack,
                                           std::vector<std::uint32_t>& taken) {
  for (std::uint32_t f = first; f != last && keys[f] <= lastKey; ++f) {
    if (bitsSet<kInstruction>(keys[f] & absent) <= slack) {
      taken.push_back(f);
    }
  }
}

void takeRunCounting(const std::uint64_t* keys, std::uint32_t first, std::uint32_t last,
                     std::uint64_t lastKey, std::uint64_t absent, std::size_t slack,
                     std::vector<std::uint32_t>& taken) {
  takeRun<false>(keys, first, last, lastKey, absent, slack, taken);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("popcnt")]] void takeRunByInstruction(const std::uint64_t* keys, std::uint32_t first,
                                                    std::uint32_t last, std::uint64_t lastKey,
                                                    std::uint64_t absent, std::size_t slack,
                                                    std::vector<std::uint32_t>& taken) {
  takeRun<true>(keys, first, last, lastKey, absent, slack, taken);
}

bool machineCountsBits() {
  return __builtin_cpu_supports("popcnt");
}
#else
void takeRunByInstruction(const std::uint64_t* keys, std::uint32_t first, std::uint32_t last,
                          std::uint64_t lastKey, std::uint64_t absent, std::size_t slack,
                          std::vector<std::uint32_t>& taken) {
  takeRun<true>(keys, first, last, lastKey, absent, slack, taken);
}

bool machineCountsBits() {
  return false;
}
#endif

// Past this, textSimilarity compares texts in pieces, and is asked itself.
constexpr std::size_t kLongText = 4096;

}  // namespace

MemorySearch::MemorySearch(const TranslationMemory& memory)
    : memory_(memory),
      met_(memory.sources_.size()),
      where_((memory.characterCount_ + std::size_t{1}) * kWords),
      inText_(memory.characterCount_ + std::size_t{1}),
      seen_(memory.characterCount_ + std::size_t{1}),
      popcount_(machineCountsBits()) {}

// The length of the longest common subsequence, a bit per character of the
// text searched for (Allison and Dix, as Hyyrö writes it), as
// commonCharacters counts it: for texts this short it compares them whole.
std::size_t MemorySearch::common(std::u32string_view other) const {
  const std::u32string& text = *text_;
  if (text.size() > kWords * 64 || other.size() > kLongText) {
    return commonCharacters(text, other);
  }
  if (text.size() <= 64) {
    std::uint64_t v = ~std::uint64_t{0};
    for (const char32_t c : other) {
      const std::uint64_t u = v & where_[c * kWords];
      v = (v + u) | (v - u);
    }
    const std::uint64_t inside =
        text.size() == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << text.size()) - 1;
    return static_cast<std::size_t>(std::popcount(~v & inside));
  }
  // The same over several words, the carry of each sum going into the next.
  const std::size_t words = (text.size() + 63) / 64;
  std::uint64_t v[kWords];
  std::fill(v, v + words, ~std::uint64_t{0});
  for (const char32_t c : other) {
    const std::uint64_t* mask = &where_[c * kWords];
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
      const std::uint64_t u = v[w] & mask[w];
      const std::uint64_t partial = v[w] + u;
      const std::uint64_t sum = partial + carry;
      carry = (partial < v[w] || sum < partial) ? 1 : 0;
      v[w] = sum | (v[w] - u);
    }
  }
  std::size_t common = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const std::size_t bits = std::min<std::size_t>(64, text.size() - w * 64);
    const std::uint64_t inside = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    common += static_cast<std::size_t>(std::popcount(~v[w] & inside));
  }
  return common;
}

// What two texts of up to kCounted characters share by their buckets
// (TranslationMemory::Buckets): the least of each bucket's counts, added up.
// The sum is no more than the shorter text's length, so that the bytes add
// up without a carry.
std::size_t MemorySearch::sharedInBuckets(const TranslationMemory::Buckets& a,
                                          const TranslationMemory::Buckets& b) {
  static_assert(TranslationMemory::kBuckets == 32 && TranslationMemory::kCounted <= 255);
#if defined(__SSE2__)
  const auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i least = _mm_add_epi8(_mm_min_epu8(load(a.data()), load(b.data())),
                                     _mm_min_epu8(load(a.data() + 16), load(b.data() + 16)));
  const __m128i sums = _mm_sad_epu8(least, _mm_setzero_si128());
  return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) +
                                  _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#else
  std::size_t shared = 0;
  for (std::size_t k = 0; k < TranslationMemory::kBuckets; ++k) {
    shared += std::min(a[k], b[k]);
  }
  return shared;
#endif
}

std::size_t MemorySearch::sharedAtMost(std::uint32_t s) const {
  const std::u32string_view characters = memory_.charactersOf(s);
  const std::uint8_t* before = memory_.before_.data() + memory_.charactersAt_[s];
  std::size_t shared = 0;
  for (std::size_t j = 0; j < characters.size(); ++j) {
    shared += before[j] < inText_[characters[j]] ? 1 : 0;
  }
  return shared;
}

const MemoryMatch& MemorySearch::find(std::string_view source) {
  const auto known = found_.find(source);
  if (known != found_.end()) {
    return known->second;
  }
  return found_.emplace(std::string(source), search(source)).first->second;
}

MemoryMatch MemorySearch::search(std::string_view source) {
  using Kind = MemoryMatch::Kind;
  MemoryMatch match;
  if (const auto same = memory_.sourceAt_.find(source); same != memory_.sourceAt_.end()) {
    const TranslationMemory::Source& found = memory_.sources_[same->second];
    match.target = found.translations[found.chosen].target;
    if (found.translations.size() == 1) {
      match.kind = Kind::exact;
      return match;
    }
    match.kind = Kind::several;
    std::vector<const TranslationMemory::Translation*> others;
    for (std::size_t t = 0; t < found.translations.size(); ++t) {
      if (t != found.chosen) {
        others.push_back(&found.translations[t]);
      }
    }
    std::stable_sort(others.begin(), others.end(),
                     [](const auto* a, const auto* b) { return a->count > b->count; });
    for (const auto* other : others) {
      match.others.push_back(other->target);
    }
    return match;
  }
  memory_.numbered(source, numberedText_);
  mostSimilar(numberedText_, 1, UINT32_MAX);
  if (!best_.empty()) {
    const TranslationMemory::Source& found = memory_.sources_[best_.front().source];
    match.kind = Kind::similar;
    match.target = found.translations[found.chosen].target;
    match.source = found.text;
  }
  return match;
}

std::vector<Suggestion> MemorySearch::suggest(std::string_view source, std::size_t most) {
  std::vector<Suggestion> suggestions;
  std::uint32_t same = UINT32_MAX;
  if (const auto at = memory_.sourceAt_.find(source); at != memory_.sourceAt_.end()) {
    same = at->second;
    const TranslationMemory::Source& found = memory_.sources_[same];
    for (const TranslationMemory::Translation& translation : found.translations) {
      suggestions.push_back({found.text, translation.target, 1, translation.count});
    }
    std::stable_sort(suggestions.begin(), suggestions.end(),
                     [](const Suggestion& a, const Suggestion& b) { return a.count > b.count; });
  }
  if (most == 0) {
    return suggestions;
  }
  memory_.numbered(source, numberedText_);
  mostSimilar(numberedText_, most, same);
  for (const Scored& similar : best_) {
    const TranslationMemory::Source& found = memory_.sources_[similar.source];
    const TranslationMemory::Translation& chosen = found.translations[found.chosen];
    suggestions.push_back({found.text, chosen.target, similar.score, chosen.count});
  }
  return suggestions;
}

void MemorySearch::mostSimilar(const std::u32string& text, std::size_t most, std::uint32_t except) {
  const std::size_t n = text.size();
  text_ = &text;
  if (n <= kWords * 64) {
    for (std::size_t i = 0; i < n; ++i) {
      where_[text[i] * kWords + i / 64] |= std::uint64_t{1} << (i % 64);
    }
  }
  textBuckets_.fill(0);
  textPresent_ = 0;
  for (const char32_t c : text) {
    ++inText_[c];
    textPresent_ |= TranslationMemory::presentBit(c);
    if (n <= TranslationMemory::kCounted) {
      ++textBuckets_[TranslationMemory::bucketOf(c)];
    }
  }
  mostSimilarAmong(text, most, except);
  for (const char32_t c : text) {
    inText_[c] = 0;
  }
  if (n <= kWords * 64) {
    for (const char32_t c : text) {
      std::fill_n(&where_[c * kWords], kWords, 0);
    }
  }
}

void MemorySearch::mostSimilarAmong(const std::u32string& text, std::size_t most,
                                    std::uint32_t except) {
  const double s = memory_.similarity_;
  const std::size_t n = text.size();
  best_.clear();
  if (n == 0 || most == 0) {
    return;
  }
  if (++lookup_ == 0) {
    std::fill(met_.begin(), met_.end(), Met{});
    lookup_ = 1;
  }
  candidates_.clear();
  // A candidate, of `m` characters, that can share at most `most`
  // characters with the text.
  const auto propose = [&](std::uint32_t source, std::size_t m, std::size_t most) {
    if (n + m != 0 && lengthsAllow(n, m, s) && std::min({n, m, most}) >= fewestShared(n + m, s)) {
      candidates_.push_back({source, static_cast<std::uint32_t>(std::min({n, m, most})),
                             static_cast<std::uint32_t>(m)});
    }
  };
  const std::size_t shared = fewestSharedWithAny(n, s);
  if (shared == 0) {
    for (std::uint32_t c = 0; c < memory_.sources_.size(); ++c) {
      propose(c, memory_.charactersOf(c).size(), n);
    }
  } else if (shared <= n) {
    walk(text, n - shared + 1);
    for (const std::uint32_t c : memory_.everywhere_) {
      if (met_[c].lookup != lookup_) {
        propose(c, memory_.charactersOf(c).size(), n);
      }
    }
  }
  // A candidate that cannot reach the similarity, or, once `most` are kept,
  // the least of their scores, is not compared. Reaches are worked out as
  // scores are, and a score grows with what is shared: a reach below a score
  // is a score below it. Of equal scores the first source is kept.
  const auto outOfReach = [&](double reach, std::uint32_t source) {
    if (reach < s) {
      return true;
    }
    if (best_.size() < most) {
      return false;
    }
    const Scored& last = best_.back();
    return reach < last.score || (reach == last.score && source > last.source);
  };
  const auto before = [](const Scored& a, const Scored& b) {
    return a.score != b.score ? a.score > b.score : a.source < b.source;
  };
  for (const Candidate& c : candidates_) {
    if (c.source == except) {
      continue;
    }
    const double total = static_cast<double>(n + c.length);
    if (outOfReach(2.0 * static_cast<double>(c.most) / total, c.source)) {
      continue;
    }
    // What the walk bounded from the rarest characters alone, bounded again
    // from all of them.
    const std::size_t bound = std::min<std::size_t>(c.most, sharedAtMost(c.source));
    if (outOfReach(2.0 * static_cast<double>(bound) / total, c.source)) {
      continue;
    }
    const double score = 2.0 * static_cast<double>(common(memory_.charactersOf(c.source))) / total;
    if (!outOfReach(score, c.source)) {
      const Scored kept{c.source, score};
      best_.insert(std::upper_bound(best_.begin(), best_.end(), kept, before), kept);
      if (best_.size() > most) {
        best_.pop_back();
      }
    }
  }
}

// Looks under the first `prefix` tokens of the text (a token no source has
// ranks before every other, as the rarest) for the sources filed there, and
// proposes those that can still share enough characters with it. Where a
// source is met through the text's token i and its own token j, it has
// shared with the text exactly the tokens it was met through so far: any
// other token before i or j would rank before token i, and all of those of
// the text and of the source's filed ones were looked at. What follows
// both can add no more than the shorter of what follows.
void MemorySearch::walk(const std::u32string& text, std::size_t prefix) {
  const double s = memory_.similarity_;
  const std::size_t n = text.size();
  std::vector<std::uint32_t>& ranks = ranks_;
  ranks.clear();
  std::size_t unknown = 0;
  tokensOf(text, seen_, tokens_);
  for (const std::uint64_t token : tokens_) {
    const std::uint32_t rank = memory_.rankOf(token);
    if (rank == TranslationMemory::kUnknown) {
      ++unknown;
    } else {
      ranks.push_back(rank);
    }
  }
  if (prefix <= unknown) {
    return;
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.resize(std::min(ranks.size(), prefix - unknown));
  firstMet_.clear();
  // The fewest characters a source of each length must share, from the
  // shortest one the text's length allows.
  std::size_t shortest = 1;
  while (!lengthsAllow(n, shortest, s)) {
    ++shortest;
  }
  // s > 0 here: 2n / (n + m) >= s bounds m.
  auto longest = static_cast<std::size_t>(static_cast<double>(n) * (2 - s) / s) + 1;
  while (!lengthsAllow(n, longest, s)) {
    --longest;
  }
  longest = std::min(longest, memory_.longestSource_);
  need_.clear();
  for (std::size_t length = shortest; length <= longest; ++length) {
    need_.push_back(static_cast<std::uint32_t>(fewestShared(n + length, s)));
  }
  const std::uint32_t* const needs = need_.data();
  const auto need = [needs, shortest](std::size_t m) { return needs[m - shortest]; };
  constexpr std::uint32_t kDropped = UINT32_MAX;
  // A source whose buckets and the text's share too few characters is
  // passed over at each meet, never counted.
  const bool counted = n <= TranslationMemory::kCounted;
  // A meet of a source through the text's token i.
  const auto visit = [&](std::uint32_t c, std::size_t m, std::size_t position, std::size_t i) {
    if (counted) {
      if (sharedInBuckets(memory_.buckets_[c], textBuckets_) < need(m)) {
        return;  // here and wherever else it is met
      }
    }
    Met& met = met_[c];
    std::uint32_t& count = met.shared;
    if (met.lookup != lookup_) {
      met.lookup = lookup_;
      met.length = static_cast<std::uint32_t>(m);
      count = m < shortest || m > longest ? kDropped : 0;
      firstMet_.push_back(c);
    }
    if (count == kDropped) {
      return;
    }
    ++count;
    const std::size_t most = count + std::min<std::size_t>(n - 1 - i, m - 1 - position);
    if (most < need(m)) {
      count = kDropped;
    } else {
      met.most = static_cast<std::uint32_t>(most);
    }
  };
  // A source first met through the text's token i shares at most n - i
  // characters: those longer than need it are not looked at from there on,
  // which leaves, for each source, the first of its meets counted, so that
  // what it counted stays exact.
  std::size_t longestFrom = longest;
  const TranslationMemory::Run* const runs = memory_.runs_.data();
  const std::uint64_t* const keys = memory_.filedKeys_.data();
  const std::uint64_t absent = ~textPresent_ & TranslationMemory::kPresentBits;
  for (std::size_t k = 0; k < ranks.size(); ++k) {
    const std::size_t i = unknown + k;
    const std::uint32_t r = ranks[k];
    while (longestFrom >= shortest && need(longestFrom) > n - i) {
      --longestFrom;
    }
    if (longestFrom < shortest) {
      break;
    }
    // This rank's sources of each length in turn, from the shortest
    // allowed, and of each length those filed at positions that can still
    // add up to enough: a source first met at its own token j shares at most
    // m - j characters. Past the first j that cannot be enough, none of its
    // length here is looked at: a source met before keeps the bound of its
    // last meet, and its later meets, at greater j, are all left out, so
    // that what it counted stays exact.
    const TranslationMemory::Run* run = runs + memory_.firstRun_[r];
    const TranslationMemory::Run* const end = runs + memory_.firstRun_[r + 1];
    while (run != end && run->length < shortest) {
      ++run;
    }
    for (; run != end && run->length <= longestFrom; ++run) {
      const std::size_t m = run->length;
      // The characters a source of this length can lack and still be
      // similar enough: as many positions before the token, or buckets it
      // has where the text has none. Positions kept to kLastPosition are past the
      // cut as they are, or, for a slack as great, none is cut.
      const std::size_t slack = m - need(m);
      const std::uint64_t lastKey = slack < TranslationMemory::kLastPosition
                                        ? std::uint64_t{slack}
                                                  << TranslationMemory::kPositionShift |
                                              TranslationMemory::kPresentBits
                                        : UINT64_MAX;
      taken_.clear();
      (popcount_ ? takeRunByInstruction : takeRunCounting)(keys, run->first, run[1].first, lastKey,
                                                           absent, slack, taken_);
      for (const std::uint32_t f : taken_) {
        visit(memory_.filed_[f], m, keys[f] >> TranslationMemory::kPositionShift, i);
      }
    }
  }
  for (const std::uint32_t c : firstMet_) {
    const Met& met = met_[c];
    if (met.shared != kDropped) {
      const std::uint32_t length = met.length;
      // The few candidates are gone through next, out of the memory's order:
      // asked for now, their characters are at hand by then.
      const std::size_t at = memory_.charactersAt_[c];
      __builtin_prefetch(memory_.characters_.data() + at);
      __builtin_prefetch(memory_.before_.data() + at);
      candidates_.push_back(
          {c, std::min({met.most, static_cast<std::uint32_t>(n), length}), length});
    }
  }
}

FillCounts& FillCounts::operator+=(const FillCounts& other) {
  exact += other.exact;
  fuzzy += other.fuzzy;
  empty += other.empty;
  return *this;
}

std::string otherTranslationsComment(const std::vector<std::string_view>& others) {
  // One line, whatever the translations hold, so that it reads back as it is.
  std::string out = "other translations: ";
  for (std::size_t k = 0; k < others.size(); ++k) {
    out += k == 0 ? "«" : ", «";
    for (const char c : others[k]) {
      out += c == '\n' ? std::string_view("\\n") : std::string_view(&c, 1);
    }
    out += "»";
  }
  return out;
}

void fillEntry(TranslationEntry& entry, MemorySearch& search, FillCounts& counts) {
  if (entry.obsolete || !entry.target.empty()) {
    return;
  }
  const MemoryMatch& match = search.find(entry.source);
  using Kind = MemoryMatch::Kind;
  if (match.kind == Kind::none) {
    ++counts.empty;
    return;
  }
  entry.target = match.target;
  entry.fuzzy = match.kind != Kind::exact;
  entry.previousSource = match.source;
  if (match.kind == Kind::several) {
    if (!entry.translatorComment.empty()) {
      entry.translatorComment += '\n';
    }
    entry.translatorComment += otherTranslationsComment(match.others);
  }
  ++(entry.fuzzy ? counts.fuzzy : counts.exact);
}

}  // namespace krlist
