// A memory's search skips most sources by bounds on what they can share
// with the text, from counts of characters kept short or by bucket. Whatever
// it skips, it must find what comparing the text with every source finds:
// here with texts of few different characters, each said hundreds of times,
// short and long, so that counts run past what a byte holds and lengths past
// what a machine word and the buckets take.

#include <gtest/gtest.h>

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

TEST(MemoryTest, FindsTheFirstMostSimilarSourceThatComparingEveryOneFinds) {
  std::mt19937 random(7);
  const double similarities[] = {0.3, 0.6, 0.75, 0.9, 1.0};
  std::size_t similar = 0;
  for (int game = 0; game < 60; ++game) {
    std::vector<Characters> made;
    std::vector<std::string> sources;
    EntryList entries;
    TranslationEntry entry;
    for (int e = 0; e < 40; ++e) {
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
      const std::string text = utf8(
          random() % 2 == 0 ? randomText(random) : edited(made[random() % made.size()], random));
      const MemoryMatch& found = search.find(text);
      std::size_t same = 0;
      std::size_t best = sources.size();
      double bestScore = -1;
      for (std::size_t k = 0; k < sources.size(); ++k) {
        same += sources[k] == text ? 1 : 0;
        const double score = textSimilarity(text, sources[k]);
        if (score >= s && score > bestScore) {
          best = k;
          bestScore = score;
        }
      }
      std::string trace = "game ";
      trace.append(std::to_string(game)).append(", text \"").append(text).append("\"");
      SCOPED_TRACE(trace);
      if (same > 0) {
        // Each entry its own translation.
        EXPECT_EQ(found.kind, same == 1 ? MemoryMatch::Kind::exact : MemoryMatch::Kind::several);
      } else if (best == sources.size() || text.empty()) {
        EXPECT_EQ(found.kind, MemoryMatch::Kind::none);
      } else {
        ASSERT_EQ(found.kind, MemoryMatch::Kind::similar);
        EXPECT_EQ(found.source, sources[best]);
        ++similar;
      }
    }
  }
  // Enough of the lookups found a similar source for the bounds to be put
  // to work.
  EXPECT_GT(similar, 300U);
}

}  // namespace
}  // namespace krlist
