// A memory's search skips most sources by bounds on what they can share
// with the text, from counts of characters kept short or by bucket. Whatever
// it skips, it must find what comparing the text with every source finds:
// here with texts of few different characters, each said hundreds of times,
// short and long, so that counts run past what a byte holds and lengths past
// what a machine word and the buckets take. What it suggests, the same:
// the translations of the text, then the most similar sources, in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "translate/Memory.h"
#include "translate/Update.h"

namespace krlist {
namespace {

// A text as the characters it is made of, each one of these.
using Characters = std::vector<std::size_t>;
const char* const kCharacters[] = {"a", "b", "c", "あ", "。"};

std::string utf8(const Characters& characters) {
  std::string text;
  for (const std::size_t c : characters) {
    text += kCharacters[c];
  }
  return text;
}

Characters randomText(std::mt19937& random) {
  // Mostly short; now and then of several hundred characters.
  const std::size_t length = random() % 8 == 0 ? 200 + random() % 600 : random() % 40;
  Characters text(length);
  for (std::size_t& c : text) {
    c = random() % 5;
  }
  return text;
}

// The text with a few characters put differently.
Characters edited(Characters text, std::mt19937& random) {
  for (int k = static_cast<int>(random() % 4); k >= 0 && !text.empty(); --k) {
    text[random() % text.size()] = random() % 5;
  }
  return text;
}

// What comparing the text with every source of the memory offers for it:
// the memory's reading of its entries, done again plainly.
std::vector<Suggestion> suggestedByEverySource(const std::string& text, const EntryList& entries,
                                               double s, std::size_t most) {
  // Each source with its translations, as first given, and their counts;
  // views into the entries.
  std::vector<std::pair<std::string_view, std::vector<Suggestion>>> sources;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    auto source = std::find_if(sources.begin(), sources.end(),
                               [&](const auto& known) { return known.first == entries.source(e); });
    if (source == sources.end()) {
      source = sources.insert(sources.end(), {entries.source(e), {}});
    }
    auto same = std::find_if(source->second.begin(), source->second.end(),
                             [&](const Suggestion& t) { return t.target == entries.target(e); });
    if (same == source->second.end()) {
      source->second.push_back({{}, entries.target(e), 1, 0});
      same = source->second.end() - 1;
    }
    ++same->count;
  }
  std::vector<Suggestion> exact, similar;
  for (const auto& [source, translations] : sources) {
    for (Suggestion translation : translations) {
      translation.source = source;
      if (source == text) {
        exact.push_back(translation);
      }
    }
    const double score = textSimilarity(text, source);
    if (source != text && !text.empty() && score >= s) {
      Suggestion chosen = *std::max_element(
          translations.begin(), translations.end(),
          [](const Suggestion& a, const Suggestion& b) { return a.count < b.count; });
      chosen.source = source;
      chosen.score = score;
      similar.push_back(chosen);
    }
  }
  std::stable_sort(exact.begin(), exact.end(),
                   [](const Suggestion& a, const Suggestion& b) { return a.count > b.count; });
  std::stable_sort(similar.begin(), similar.end(),
                   [](const Suggestion& a, const Suggestion& b) { return a.score > b.score; });
  similar.resize(std::min(similar.size(), most));
  exact.insert(exact.end(), similar.begin(), similar.end());
  return exact;
}

std::string shown(const std::vector<Suggestion>& suggestions) {
  std::string out;
  for (const Suggestion& s : suggestions) {
    out.append("\"").append(s.source).append("\" -> ").append(s.target);
    out.append(" (").append(std::to_string(s.score)).append(" x");
    out.append(std::to_string(s.count)).append(")\n");
  }
  return out;
}

TEST(MemoryTest, FindsAndSuggestsWhatComparingEverySourceFinds) {
  std::mt19937 random(7);
  const double similarities[] = {0.3, 0.6, 0.75, 0.9, 1.0};
  const std::size_t mosts[] = {0, 1, 2, 5, 40};
  std::size_t similar = 0;
  std::size_t several = 0;
  std::size_t suggested = 0;
  for (int game = 0; game < 60; ++game) {
    std::vector<Characters> made;
    std::vector<std::string> sources;
    EntryList entries;
    TranslationEntry entry;
    for (int e = 0; e < 40; ++e) {
      if (!made.empty() && random() % 6 == 0) {
        // A source given again: now and then with a translation of before,
        // for the memory to count.
        const std::size_t again = random() % entries.size();
        entry.source = entries.source(again);
        entry.target = random() % 2 == 0 ? std::string(entries.target(again))
                                         : std::string("t").append(std::to_string(e));
        sources.push_back(entry.source);
        entries.add(entry);
        continue;
      }
      const Characters characters = made.empty() || random() % 3 != 0
                                        ? randomText(random)
                                        : edited(made[random() % made.size()], random);
      if (characters.empty()) {
        continue;
      }
      made.push_back(characters);
      sources.push_back(entry.source = utf8(characters));
      entry.target = std::string("t").append(std::to_string(e));
      entries.add(entry);
    }
    const double s = similarities[game % 5];
    TranslationMemory memory;
    memory.add(entries);
    memory.index(s);
    MemorySearch search(memory);
    for (int q = 0; q < 40; ++q) {
      // A new text, one like a source, or a source as it is.
      const std::size_t kind = random() % 8;
      const std::string text = kind < 4   ? utf8(randomText(random))
                               : kind < 7 ? utf8(edited(made[random() % made.size()], random))
                                          : sources[random() % sources.size()];
      std::string trace = "game ";
      trace.append(std::to_string(game)).append(", text \"").append(text).append("\"");
      SCOPED_TRACE(trace);
      const std::size_t most = mosts[random() % 5];
      const std::vector<Suggestion> expected = suggestedByEverySource(text, entries, s, most);
      const std::vector<Suggestion> suggestions = search.suggest(text, most);
      EXPECT_EQ(shown(suggestions), shown(expected)) << "most " << most;
      suggested += expected.size();

      const MemoryMatch& found = search.find(text);
      const std::vector<Suggestion> first = suggestedByEverySource(text, entries, s, 1);
      if (first.empty()) {
        EXPECT_EQ(found.kind, MemoryMatch::Kind::none);
      } else if (first.front().source != text) {
        ASSERT_EQ(found.kind, MemoryMatch::Kind::similar);
        EXPECT_EQ(found.source, first.front().source);
        EXPECT_EQ(found.target, first.front().target);
        ++similar;
      } else {
        std::size_t ways = 0;
        for (const Suggestion& suggestion : first) {
          ways += suggestion.source == text ? 1 : 0;
        }
        EXPECT_EQ(found.kind, ways == 1 ? MemoryMatch::Kind::exact : MemoryMatch::Kind::several);
        EXPECT_EQ(found.target, first.front().target);
        ASSERT_EQ(found.others.size(), ways - 1);
        for (std::size_t k = 1; k < ways; ++k) {
          EXPECT_EQ(found.others[k - 1], first[k].target);
        }
        several += ways > 1 ? 1 : 0;
      }
    }
  }
  // Enough of the lookups found a similar source, or the same one translated
  // more ways, for the bounds and the counts to be put to work.
  EXPECT_GT(similar, 600U);
  EXPECT_GT(several, 50U);
  EXPECT_GT(suggested, 3000U);
}

}  // namespace
}  // namespace krlist
