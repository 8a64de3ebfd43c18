#include "translate/Update.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "text/Utf8.h"

namespace krlist {

namespace {

using Pair = std::pair<std::size_t, std::size_t>;

// Stretches no longer than this many pairs of lines are compared whole.
constexpr std::size_t kWholeComparison = 1 << 20;
// Between two matched lines, every new line left is compared with every old
// one left while they make no more than this many pairs, so that edited
// lines that also changed places find their old ones; in a longer stretch,
// only with this many old lines either side of where it would fall.
constexpr std::size_t kSimilarPairs = 1 << 16;
constexpr std::size_t kSimilarWindow = 12;
// Similar texts are looked for again around the old places of the lines
// matched before and after a new line, when they are no further apart.
constexpr std::size_t kSecondLook = 1024;

// The longest chain of `pairs` (sorted by first) increasing in second.
std::vector<Pair> longestChain(const std::vector<Pair>& pairs) {
  std::vector<std::size_t> tails;  // index into pairs of the end of the best chain of each length
  std::vector<std::size_t> before(pairs.size());
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const auto at = std::lower_bound(
        tails.begin(), tails.end(), pairs[k].second,
        [&pairs](std::size_t t, std::size_t value) { return pairs[t].second < value; });
    before[k] = at == tails.begin() ? pairs.size() : *(at - 1);
    if (at == tails.end()) {
      tails.push_back(k);
    } else {
      *at = k;
    }
  }
  std::vector<Pair> chain(tails.size());
  for (std::size_t k = tails.empty() ? pairs.size() : tails.back(), n = chain.size(); n > 0;
       k = before[k]) {
    chain[--n] = pairs[k];
  }
  return chain;
}

void wholeCommonSubsequence(std::span<const std::uint32_t> a, std::size_t aFrom,
                            std::span<const std::uint32_t> b, std::size_t bFrom,
                            std::vector<Pair>& out) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  // length[i][j]: of the longest common subsequence of a[i..] and b[j..].
  std::vector<std::uint32_t> length((n + 1) * (m + 1));
  const auto at = [m](std::size_t i, std::size_t j) { return i * (m + 1) + j; };
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      length[at(i, j)] = a[i] == b[j] ? length[at(i + 1, j + 1)] + 1
                                      : std::max(length[at(i + 1, j)], length[at(i, j + 1)]);
    }
  }
  for (std::size_t i = 0, j = 0; i < n && j < m;) {
    if (a[i] == b[j]) {
      out.emplace_back(aFrom + i++, bFrom + j++);
    } else if (length[at(i + 1, j)] >= length[at(i, j + 1)]) {
      ++i;
    } else {
      ++j;
    }
  }
}

struct Range {
  std::size_t aFrom, aTo, bFrom, bTo;
};

}  // namespace

std::vector<Pair> commonSubsequence(std::span<const std::uint32_t> a,
                                    std::span<const std::uint32_t> b) {
  std::vector<Pair> out;
  std::vector<Range> pending{{0, a.size(), 0, b.size()}};
  while (!pending.empty()) {
    Range r = pending.back();
    pending.pop_back();
    while (r.aFrom < r.aTo && r.bFrom < r.bTo && a[r.aFrom] == b[r.bFrom]) {
      out.emplace_back(r.aFrom++, r.bFrom++);
    }
    while (r.aFrom < r.aTo && r.bFrom < r.bTo && a[r.aTo - 1] == b[r.bTo - 1]) {
      out.emplace_back(--r.aTo, --r.bTo);
    }
    const std::size_t n = r.aTo - r.aFrom;
    const std::size_t m = r.bTo - r.bFrom;
    if (n == 0 || m == 0) {
      continue;
    }
    if (n * m <= kWholeComparison) {
      wholeCommonSubsequence(a.subspan(r.aFrom, n), r.aFrom, b.subspan(r.bFrom, m), r.bFrom, out);
      continue;
    }
    // Lines found exactly once on each side are the same line, unless they
    // crossed; the longest chain of them that did not cross anchors the rest.
    // How often each value of `a` comes on each side is counted in a table
    // open to linear probing, at least half empty.
    struct Seen {
      std::uint32_t value = 0, aCount = 0, bCount = 0;
      std::size_t bAt = 0;
    };
    const int bits = std::bit_width(2 * n - 1);
    std::vector<Seen> seen(std::size_t{1} << bits);
    const auto slot = [&seen, bits](std::uint32_t value) {
      const std::size_t mask = seen.size() - 1;
      std::size_t at =
          static_cast<std::size_t>((std::uint64_t{value} * 0x9E3779B97F4A7C15u) >> (64 - bits));
      while (seen[at].aCount != 0 && seen[at].value != value) {
        at = (at + 1) & mask;
      }
      return at;
    };
    for (std::size_t i = r.aFrom; i < r.aTo; ++i) {
      Seen& s = seen[slot(a[i])];
      s.value = a[i];
      ++s.aCount;
    }
    for (std::size_t j = r.bFrom; j < r.bTo; ++j) {
      Seen& s = seen[slot(b[j])];
      if (s.aCount != 0) {
        ++s.bCount;
        s.bAt = j;
      }
    }
    std::vector<Pair> unique;  // in order of a
    for (std::size_t i = r.aFrom; i < r.aTo; ++i) {
      const Seen& s = seen[slot(a[i])];
      if (s.aCount == 1 && s.bCount == 1) {
        unique.emplace_back(i, s.bAt);
      }
    }
    std::vector<Pair> anchors = longestChain(unique);
    if (anchors.empty()) {
      // Only repeated lines: cut both sides in the middle and compare the
      // halves, which keeps the work bounded and the order.
      const std::size_t aMiddle = r.aFrom + n / 2;
      const std::size_t bMiddle = r.bFrom + m / 2;
      pending.push_back({r.aFrom, aMiddle, r.bFrom, bMiddle});
      pending.push_back({aMiddle, r.aTo, bMiddle, r.bTo});
      continue;
    }
    std::size_t aFrom = r.aFrom, bFrom = r.bFrom;
    for (const Pair& anchor : anchors) {
      pending.push_back({aFrom, anchor.first, bFrom, anchor.second});
      out.push_back(anchor);
      aFrom = anchor.first + 1;
      bFrom = anchor.second + 1;
    }
    pending.push_back({aFrom, r.aTo, bFrom, r.bTo});
  }
  std::sort(out.begin(), out.end());
  return out;
}

namespace {

// Texts whose parts between their common start and common end are no longer
// than this are compared whole; longer ones in pieces of at most this many
// characters, which bounds the work for a pair to this many characters for
// each character of the longer text.
constexpr std::size_t kWholeText = 4096;

// The length of the longest common subsequence, a bit per character of `a`
// (Allison and Dix, as Hyyrö writes it): 64 characters compared at once.
std::size_t wholeCommonLength(std::u32string_view a, std::u32string_view b) {
  if (a.empty() || b.empty()) {
    return 0;
  }
  const std::size_t words = (a.size() + 63) / 64;
  // The characters of `a`, sorted, each with the bits of where it is.
  std::vector<char32_t> characters(a.begin(), a.end());
  std::sort(characters.begin(), characters.end());
  characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
  std::vector<std::uint64_t> masks(characters.size() * words);
  const auto indexOf = [&characters](char32_t c) {
    const auto at = std::lower_bound(characters.begin(), characters.end(), c);
    return at != characters.end() && *at == c ? static_cast<std::size_t>(at - characters.begin())
                                              : characters.size();
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    masks[indexOf(a[i]) * words + i / 64] |= std::uint64_t{1} << (i % 64);
  }
  std::vector<std::uint64_t> v(words, ~std::uint64_t{0});
  for (const char32_t c : b) {
    const std::size_t found = indexOf(c);
    if (found == characters.size()) {
      continue;
    }
    const std::uint64_t* mask = &masks[found * words];
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
      const std::uint64_t u = v[w] & mask[w];
      const std::uint64_t partial = v[w] + u;
      const std::uint64_t sum = partial + carry;
      carry = (partial < v[w] || sum < partial) ? 1 : 0;
      v[w] = sum | (v[w] - u);  // u lies within v[w]: the difference is v[w] without u
    }
  }
  // A clear bit for each character of `a` in the subsequence; the bits past
  // its end, which carries reach, are not counted.
  std::size_t common = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const std::size_t bits = std::min<std::size_t>(64, a.size() - w * 64);
    const std::uint64_t inside = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    common += static_cast<std::size_t>(std::popcount(~v[w] & inside));
  }
  return common;
}

// The characters two texts share in order: exactly, the common start and
// end taken as they are and the rest compared whole, when that rest is no
// longer than kWholeText on either side. Past that, the rests are cut into
// as many pieces each as it takes to keep every piece that short, in
// proportion (the k-th piece of one against the k-th of the other), and the
// pieces' counts added: fewer shared characters than there are, at most, as
// a piece cannot share with the next, but close to it where a long text had a
// few edits, and no more than linear work in the longer text.
std::size_t commonLength(std::u32string_view a, std::u32string_view b) {
  std::size_t start = 0;
  while (start < a.size() && start < b.size() && a[start] == b[start]) {
    ++start;
  }
  a.remove_prefix(start);
  b.remove_prefix(start);
  std::size_t end = 0;
  while (end < a.size() && end < b.size() && a[a.size() - 1 - end] == b[b.size() - 1 - end]) {
    ++end;
  }
  a.remove_suffix(end);
  b.remove_suffix(end);
  const std::size_t longer = std::max(a.size(), b.size());
  if (longer <= kWholeText) {
    return start + end + wholeCommonLength(a, b);
  }
  const std::size_t pieces = (longer + kWholeText - 1) / kWholeText;
  std::size_t common = start + end;
  for (std::size_t k = 0; k < pieces; ++k) {
    const auto piece = [k, pieces](std::u32string_view text) {
      const std::size_t from = k * text.size() / pieces;
      return text.substr(from, (k + 1) * text.size() / pieces - from);
    };
    common += wholeCommonLength(piece(a), piece(b));
  }
  return common;
}

double similarity(const std::u32string& a, const std::u32string& b) {
  if (a.empty() && b.empty()) {
    return 1;
  }
  return 2.0 * static_cast<double>(commonLength(a, b)) / static_cast<double>(a.size() + b.size());
}

using Kind = UpdatedScript::Kind;
using Match = UpdatedScript::Origin;

class Updater {
 public:
  explicit Updater(const UpdateInput& input) : in_(input) {}

  std::vector<UpdatedScript> run() {
    number();
    matchInPlace();
    matchMoved();
    std::vector<std::size_t> home = homes();
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      if (home[f] != kNoScript) {
        matchSimilar(f, home[f]);
      }
    }
    return assemble(home);
  }

 private:
  bool translated(std::size_t f, std::size_t e) const { return !in_.oldFiles[f].target(e).empty(); }

  // Every text as a number, the same number for the same text, found in a
  // table open to linear probing by the text's hash: a run holds every line
  // of two versions of a game, too many for a node of its own each.
  void number() {
    std::size_t texts = 0;
    for (const EntryList& entries : in_.oldFiles) {
      texts += entries.size();
    }
    for (const EntryList& entries : in_.newScripts) {
      texts += entries.size();
    }
    const std::size_t slots = std::bit_ceil(2 * texts + 1);
    std::vector<std::uint32_t> table(slots);  // a number + 1, or 0 for none
    std::vector<std::string_view> textOf;     // by number
    textOf.reserve(texts);
    const auto id = [&table, &textOf, slots](std::string_view text) {
      std::size_t at = std::hash<std::string_view>()(text) & (slots - 1);
      for (; table[at] != 0; at = (at + 1) & (slots - 1)) {
        if (textOf[table[at] - 1] == text) {
          return table[at] - 1;
        }
      }
      textOf.push_back(text);
      table[at] = static_cast<std::uint32_t>(textOf.size());
      return table[at] - 1;
    };
    oldLive_.resize(in_.oldFiles.size());
    oldIds_.resize(in_.oldFiles.size());
    oldId_.resize(in_.oldFiles.size());
    taken_.resize(in_.oldFiles.size());
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      const auto& entries = in_.oldFiles[f];
      taken_[f].assign(entries.size(), false);
      oldId_[f].resize(entries.size());
      for (std::size_t e = 0; e < entries.size(); ++e) {
        oldId_[f][e] = id(entries.source(e));
        if (!entries.obsolete(e)) {
          oldLive_[f].push_back(e);
          oldIds_[f].push_back(oldId_[f][e]);
        }
      }
    }
    newIds_.resize(in_.newScripts.size());
    matches_.resize(in_.newScripts.size());
    for (std::size_t s = 0; s < in_.newScripts.size(); ++s) {
      const EntryList& entries = in_.newScripts[s];
      newIds_[s].reserve(entries.size());
      for (std::size_t j = 0; j < entries.size(); ++j) {
        newIds_[s].push_back(id(entries.source(j)));
      }
      matches_[s].resize(in_.newScripts[s].size());
    }
    textCount_ = textOf.size();
  }

  void take(std::size_t s, std::size_t j, Kind kind, std::size_t f, std::size_t e) {
    matches_[s][j] = {kind, f, e};
    taken_[f][e] = true;
  }

  // Unchanged: the diff of each new script with the old file at its path.
  // Untranslated lines take part too, as landmarks.
  void matchInPlace() {
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      const std::size_t s = in_.scriptAtPath[f];
      if (s == kNoScript) {
        continue;
      }
      for (const auto& [i, j] : commonSubsequence(oldIds_[f], newIds_[s])) {
        take(s, j, Kind::kept, f, oldLive_[f][i]);
      }
    }
  }

  // Moved: the same text elsewhere. First a text found once on each side;
  // then in the same script, then in any old file, then among the obsolete
  // entries. Of several old lines with the text, the one right after the old
  // line of the line before comes first, then one further after it in the
  // same file, so that a block moved whole, or with a line deleted, keeps
  // each of its repeated lines' translations in order. Last, a line moved
  // with no translation is matched too, so that it stays untranslated rather
  // than take a similar line's translation.
  void matchMoved() {
    std::vector<std::size_t> fileAt(in_.newScripts.size(), kNoScript);
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      if (in_.scriptAtPath[f] != kNoScript) {
        fileAt[in_.scriptAtPath[f]] = f;
      }
    }
    // Candidates by text: (file, entry), in file order.
    using Candidates = std::unordered_map<std::uint32_t, std::vector<Pair>>;
    const auto gather = [this](std::size_t onlyFile, bool obsolete, bool withTranslation) {
      Candidates candidates;
      for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
        if (onlyFile != kNoScript && f != onlyFile) {
          continue;
        }
        for (std::size_t e = 0; e < in_.oldFiles[f].size(); ++e) {
          if (!taken_[f][e] && translated(f, e) == withTranslation &&
              in_.oldFiles[f].obsolete(e) == obsolete) {
            candidates[oldId_[f][e]].emplace_back(f, e);
          }
        }
      }
      return candidates;
    };
    const auto matchFrom = [this](std::size_t s, Candidates& candidates) {
      std::size_t lastFile = kNoScript, lastEntry = 0;
      for (std::size_t j = 0; j < matches_[s].size(); ++j) {
        if (matches_[s][j].kind != Kind::none) {
          continue;
        }
        // The line before, when it came from an old entry, says where to
        // look first, however it was found.
        if (const Match& before = j > 0 ? matches_[s][j - 1] : Match{};
            before.kind == Kind::kept || before.kind == Kind::moved) {
          lastFile = before.file;
          lastEntry = before.entry;
        }
        const auto found = candidates.find(newIds_[s][j]);
        if (found == candidates.end()) {
          continue;
        }
        std::vector<Pair>& list = found->second;
        std::size_t best = list.size();
        for (std::size_t k = 0; k < list.size(); ++k) {
          const auto [f, e] = list[k];
          if (taken_[f][e]) {
            continue;
          }
          if (best == list.size() || (f == lastFile && list[best].first != lastFile)) {
            best = k;
          }
          if (f == lastFile && e > lastEntry) {
            best = k;
            break;
          }
        }
        if (best == list.size()) {
          continue;
        }
        const auto [f, e] = list[best];
        take(s, j, Kind::moved, f, e);
        lastFile = f;
        lastEntry = e;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(best));
      }
    };
    matchUnique();
    follow();
    for (std::size_t s = 0; s < in_.newScripts.size(); ++s) {
      if (fileAt[s] != kNoScript) {
        Candidates own = gather(fileAt[s], false, true);
        matchFrom(s, own);
      }
    }
    follow();
    for (const auto& [obsolete, withTranslation] :
         {std::pair(false, true), std::pair(true, true), std::pair(false, false)}) {
      Candidates any = gather(kNoScript, obsolete, withTranslation);
      for (std::size_t s = 0; s < in_.newScripts.size(); ++s) {
        matchFrom(s, any);
      }
      follow();
    }
  }

  // A text left once among the new lines and once among the old ones is the
  // same line, wherever it went, translated or not: taken first, so that the
  // lines that moved with it can follow it.
  void matchUnique() {
    static constexpr std::uint32_t kMany = 2;
    const auto counted = [this](std::size_t f, std::size_t e) {
      return !taken_[f][e] && (!in_.oldFiles[f].obsolete(e) || translated(f, e));
    };
    const auto countUp = [](std::uint8_t& count) {
      count = static_cast<std::uint8_t>(std::min<std::uint32_t>(count + 1u, kMany));
    };
    // How often each text is left among the old entries that could give a
    // line its translation (or none, for an untranslated one), and among the
    // new lines.
    std::vector<std::uint8_t> olds(textCount_), news(textCount_);
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      for (std::size_t e = 0; e < in_.oldFiles[f].size(); ++e) {
        if (counted(f, e)) {
          countUp(olds[oldId_[f][e]]);
        }
      }
    }
    for (std::size_t s = 0; s < matches_.size(); ++s) {
      for (std::size_t j = 0; j < matches_[s].size(); ++j) {
        if (matches_[s][j].kind == Kind::none) {
          countUp(news[newIds_[s][j]]);
        }
      }
    }
    std::vector<Pair> oldAt(textCount_, Pair(kNoScript, 0));
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      for (const std::size_t e : oldLive_[f]) {
        const std::uint32_t id = oldId_[f][e];
        if (counted(f, e) && olds[id] == 1 && news[id] == 1) {
          oldAt[id] = {f, e};
        }
      }
    }
    for (std::size_t s = 0; s < matches_.size(); ++s) {
      for (std::size_t j = 0; j < matches_[s].size(); ++j) {
        const Pair at = oldAt[newIds_[s][j]];
        if (matches_[s][j].kind == Kind::none && at.first != kNoScript) {
          take(s, j, Kind::moved, at.first, at.second);
        }
      }
    }
  }

  // A line after one that came from an old entry, with the text of the entry
  // after that one, is that entry moved with its neighbour: a block moved
  // whole keeps each of its repeated lines' own translations.
  void follow() {
    for (std::size_t s = 0; s < matches_.size(); ++s) {
      for (std::size_t j = 1; j < matches_[s].size(); ++j) {
        const Match& before = matches_[s][j - 1];
        if (matches_[s][j].kind != Kind::none ||
            (before.kind != Kind::kept && before.kind != Kind::moved)) {
          continue;
        }
        const std::size_t f = before.file, e = before.entry + 1;
        if (e < in_.oldFiles[f].size() && !taken_[f][e] && !in_.oldFiles[f].obsolete(e) &&
            !in_.oldFiles[f].obsolete(before.entry) && oldId_[f][e] == newIds_[s][j]) {
          take(s, j, Kind::moved, f, e);
        }
      }
    }
  }

  // The new script each old file belongs to: the one at its path, or else
  // the one most of its lines went to; kNoScript when none went anywhere.
  std::vector<std::size_t> homes() const {
    std::vector<std::size_t> home(in_.scriptAtPath);
    std::vector<std::unordered_map<std::size_t, std::size_t>> went(in_.oldFiles.size());
    for (std::size_t s = 0; s < matches_.size(); ++s) {
      for (const Match& match : matches_[s]) {
        if (match.kind != Kind::none) {
          ++went[match.file][s];
        }
      }
    }
    for (std::size_t f = 0; f < home.size(); ++f) {
      if (home[f] != kNoScript) {
        continue;
      }
      std::size_t most = 0;
      for (const auto& [s, count] : went[f]) {
        if (count > most || (count == most && s < home[f])) {
          most = count;
          home[f] = s;
        }
      }
    }
    return home;
  }

  // Edited: between the lines of old file `f` and new script `s` that
  // matched in order, an unmatched new line takes the translation of the
  // most similar unmatched old line, when similar enough.
  void matchSimilar(std::size_t f, std::size_t s) {
    std::vector<std::size_t> positionOf(in_.oldFiles[f].size());
    for (std::size_t i = 0; i < oldLive_[f].size(); ++i) {
      positionOf[oldLive_[f][i]] = i;
    }
    std::vector<Pair> matched;
    for (std::size_t j = 0; j < matches_[s].size(); ++j) {
      const Match& match = matches_[s][j];
      if (match.kind != Kind::none && match.file == f && !in_.oldFiles[f].obsolete(match.entry)) {
        matched.emplace_back(positionOf[match.entry], j);
      }
    }
    matched.emplace_back(oldLive_[f].size(), matches_[s].size());
    std::vector<Pair> anchors = matched;
    std::sort(anchors.begin(), anchors.end());
    anchors = longestChain(anchors);
    std::size_t iFrom = 0, jFrom = 0;
    for (const auto& [iTo, jTo] : anchors) {
      matchStretch(f, iFrom, iTo, s, jFrom, jTo);
      iFrom = iTo + 1;
      jFrom = jTo + 1;
    }
    // Two chains can be equally long, and where a line moved past an edited
    // one, the chain taken may leave the edited line out of the stretch of
    // its old line. So what is left is looked for again among the old lines
    // around those of the lines from `f` just before and after it.
    std::size_t before = 0;
    jFrom = 0;
    for (const auto& [i, j] : matched) {
      const std::size_t low = std::min(before, i);
      const std::size_t high = std::max(before, i);
      if (high - low <= kSecondLook) {
        matchStretch(f, low > kSimilarWindow ? low - kSimilarWindow : 0,
                     std::min(high + kSimilarWindow + 1, oldLive_[f].size()), s, jFrom, j);
      }
      before = i;
      jFrom = j + 1;
    }
  }

  void matchStretch(std::size_t f, std::size_t iFrom, std::size_t iTo, std::size_t s,
                    std::size_t jFrom, std::size_t jTo) {
    std::vector<std::size_t> olds, news;  // entries of f, lines of s
    for (std::size_t j = jFrom; j < jTo; ++j) {
      if (matches_[s][j].kind == Kind::none) {
        news.push_back(j);
      }
    }
    if (news.empty()) {
      return;
    }
    for (std::size_t i = iFrom; i < iTo; ++i) {
      const std::size_t e = oldLive_[f][i];
      if (!taken_[f][e] && translated(f, e)) {
        olds.push_back(e);
      }
    }
    if (olds.empty()) {
      return;
    }
    std::vector<std::u32string> oldText(olds.size()), newText(news.size());
    for (std::size_t k = 0; k < olds.size(); ++k) {
      oldText[k] = codePoints(in_.oldFiles[f].source(olds[k]));
    }
    for (std::size_t k = 0; k < news.size(); ++k) {
      newText[k] = codePoints(in_.newScripts[s].source(news[k]));
    }
    struct Candidate {
      double score;
      std::size_t n, o;
    };
    std::vector<Candidate> candidates;
    const bool whole = olds.size() * news.size() <= kSimilarPairs;
    for (std::size_t n = 0; n < news.size(); ++n) {
      std::size_t from = 0, to = olds.size();
      if (!whole) {
        const std::size_t centre = n * olds.size() / news.size();
        from = centre > kSimilarWindow ? centre - kSimilarWindow : 0;
        to = std::min(olds.size(), centre + kSimilarWindow + 1);
      }
      for (std::size_t o = from; o < to; ++o) {
        const double a = static_cast<double>(newText[n].size());
        const double b = static_cast<double>(oldText[o].size());
        // The score can be no more than the shorter text allows.
        if (2 * std::min(a, b) < in_.similarity * (a + b)) {
          continue;
        }
        const double score = similarity(newText[n], oldText[o]);
        if (score >= in_.similarity) {
          candidates.push_back({score, n, o});
        }
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.score > y.score; });
    std::vector<bool> newUsed(news.size());
    for (const Candidate& c : candidates) {
      if (!newUsed[c.n] && !taken_[f][olds[c.o]]) {
        newUsed[c.n] = true;
        take(s, news[c.n], Kind::fuzzy, f, olds[c.o]);
      }
    }
  }

  std::vector<UpdatedScript> assemble(const std::vector<std::size_t>& home) {
    std::vector<UpdatedScript> out(in_.newScripts.size());
    for (std::size_t s = 0; s < out.size(); ++s) {
      UpdatedScript& script = out[s];
      script.script = s;
      for (const Match& match : matches_[s]) {
        ++(match.kind == Kind::none    ? script.counts.added
           : match.kind == Kind::fuzzy ? script.counts.fuzzy
           : match.kind == Kind::kept  ? script.counts.kept
                                       : script.counts.moved);
      }
      script.lines = std::move(matches_[s]);
    }
    for (std::size_t f = 0; f < in_.oldFiles.size(); ++f) {
      const std::size_t s = home[f] != kNoScript ? home[f] : in_.nearestScript[f];
      for (std::size_t e = 0; e < in_.oldFiles[f].size(); ++e) {
        if (taken_[f][e] || !translated(f, e) || s == kNoScript) {
          continue;
        }
        out[s].obsolete.push_back({Kind::none, f, e});
        ++out[s].counts.obsolete;
      }
    }
    return out;
  }

  const UpdateInput& in_;
  std::size_t textCount_ = 0;                       // different texts
  std::vector<std::vector<std::size_t>> oldLive_;   // per old file: its live entries
  std::vector<std::vector<std::uint32_t>> oldIds_;  // their texts
  std::vector<std::vector<std::uint32_t>> oldId_;   // per old entry, obsolete ones too
  std::vector<std::vector<std::uint32_t>> newIds_;  // per new script
  std::vector<std::vector<bool>> taken_;            // per old entry
  std::vector<std::vector<Match>> matches_;         // per new line
};

}  // namespace

UpdateCounts& UpdateCounts::operator+=(const UpdateCounts& other) {
  kept += other.kept;
  moved += other.moved;
  fuzzy += other.fuzzy;
  added += other.added;
  obsolete += other.obsolete;
  return *this;
}

std::size_t commonCharacters(std::u32string_view a, std::u32string_view b) {
  return commonLength(a, b);
}

double textSimilarity(std::string_view a, std::string_view b) {
  return similarity(codePoints(a), codePoints(b));
}

std::vector<UpdatedScript> updateTranslations(const UpdateInput& input) {
  return Updater(input).run();
}

void UpdatedScript::entries(const UpdateInput& input, const EntrySink& take) const {
  TranslationEntry entry, old;
  const EntryList& own = input.newScripts[script];
  // An obsolete entry keeps its offset only in the file it was in. One
  // brought over from another script's file would share its offset with
  // that file's other strings, and gettext refuses two entries of the same
  // msgctxt and msgid: it is told apart by its old script's path, which its
  // reference holds, before the offset ("b.kr:0000001A"). What still meets
  // another entry's msgctxt and msgid (an old file that held both) gets a
  // number after it. Both are read back as they are written, so a second
  // update keeps them.
  std::vector<TranslationEntry> gone(obsolete.size());
  std::unordered_set<std::string> goneKeys, used;
  const auto keyOf = [](const TranslationEntry& e) {
    // An entry without msgctxt is another message than one with an empty one.
    return (e.obsolete && e.offset.empty() ? std::string("\x05") : e.offset + '\x04') + e.source;
  };
  for (std::size_t k = 0; k < obsolete.size(); ++k) {
    TranslationEntry& was = gone[k];
    input.oldFiles[obsolete[k].file].get(obsolete[k].entry, was);
    was.obsolete = true;
    const bool ownFile = input.scriptAtPath[obsolete[k].file] == script;
    if (!ownFile && !was.reference.empty() &&
        (was.offset.empty() || translation::isOffsetContext(was.offset))) {
      was.offset = was.reference;
    }
    goneKeys.insert(keyOf(was));
  }
  for (std::size_t j = 0; j < own.size(); ++j) {
    own.get(j, entry);
    const Origin& origin = lines[j];
    if (origin.kind != Kind::none) {
      input.oldFiles[origin.file].get(origin.entry, old);
      entry.target = old.target;
      entry.translatorComment = old.translatorComment;
      if (origin.kind == Kind::fuzzy) {
        entry.fuzzy = true;
        // A translation already under review was made for its previous
        // text, not for the one it had.
        entry.previousSource =
            old.fuzzy && !old.previousSource.empty() ? old.previousSource : old.source;
      } else {
        entry.fuzzy = old.fuzzy;
        if (old.fuzzy) {
          entry.previousSource = old.previousSource;
        }
      }
    }
    if (!goneKeys.empty()) {
      if (std::string key = keyOf(entry); goneKeys.contains(key)) {
        used.insert(std::move(key));
      }
    }
    take(entry);
  }
  for (TranslationEntry& was : gone) {
    const std::string offset = was.offset;
    for (std::size_t n = 2; !used.insert(keyOf(was)).second; ++n) {
      was.offset = offset + " (" + std::to_string(n) + ")";
    }
    take(was);
  }
}

}  // namespace krlist
