// An update must carry every translation of a patched game to where its text
// went, whatever the patch did, and must change nothing when run again.
// Patches are made at random with the truth about every line known.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "translate/PoFile.h"
#include "translate/Update.h"

namespace krlist {
namespace {

// Random kana: two different lines share few characters, far fewer than the
// similarity an edit keeps.
std::string randomLine(std::mt19937& random) {
  std::string line;
  const std::size_t length = 10 + random() % 20;
  for (std::size_t i = 0; i < length; ++i) {
    const char32_t c = U'\u3041' + random() % 80;
    line += static_cast<char>(0xE0 | (c >> 12));
    line += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    line += static_cast<char>(0x80 | (c & 0x3F));
  }
  return line;
}

// Lines said again and again, each time with its own translation.
const std::vector<std::string> kRepeated = {"はい。", "……", "What?"};

enum class Fate { unchanged, moved, edited, inserted };

struct Line {
  std::string source;
  Fate fate = Fate::inserted;
  const TranslationEntry* origin = nullptr;  // the old entry, for all but inserted lines
};

TranslationEntry entryAt(const std::string& script, std::size_t position, std::string source) {
  TranslationEntry entry;
  char offset[9];
  std::snprintf(offset, sizeof offset, "%08zX", position * 0x10);
  entry.offset = offset;
  entry.comment = "opcode 1B";
  entry.reference = script + ":" + offset;
  entry.source = std::move(source);
  return entry;
}

std::string edited(std::string line, std::mt19937& random) {
  // One kana (three bytes) replaced by another.
  const std::size_t at = 3 * (random() % (line.size() / 3));
  line[at + 2] = static_cast<char>(0x80 | ((line[at + 2] - 0x80 + 1 + random() % 30) % 64));
  return line;
}

struct Patch {
  std::vector<std::string> oldNames, newNames;
  std::vector<std::vector<TranslationEntry>> oldFiles;
  std::vector<std::vector<Line>> newScripts;
};

Patch randomPatch(std::mt19937& random) {
  Patch patch;
  patch.oldNames = {"a.kr", "b.kr", "c.kr", "d.kr"};
  std::size_t tag = 0;
  for (const std::string& name : patch.oldNames) {
    std::vector<TranslationEntry>& file = patch.oldFiles.emplace_back();
    const std::size_t count = 20 + random() % 60;
    for (std::size_t i = 0; i < count; ++i) {
      const bool repeated = random() % 6 == 0;
      TranslationEntry entry =
          entryAt(name, i, repeated ? kRepeated[random() % kRepeated.size()] : randomLine(random));
      // Repeated lines are always translated, so that which copy a moved one
      // takes its translation from shows.
      if (repeated || random() % 5 != 0) {
        entry.target = "T" + std::to_string(tag++);
        if (random() % 3 == 0) {
          entry.translatorComment =
              "note on " + entry.target + (random() % 2 ? "\n\n  second" : "");
        }
        if (random() % 8 == 0) {
          entry.fuzzy = true;
          entry.previousSource = random() % 2 ? randomLine(random) : "";
        }
      }
      file.push_back(std::move(entry));
    }
    if (random() % 3 == 0) {
      TranslationEntry gone = entryAt(name, 999, randomLine(random));
      gone.target = "T" + std::to_string(tag++);
      gone.translatorComment = "note on " + gone.target;
      gone.obsolete = true;
      file.push_back(std::move(gone));
    }
  }
  // a.kr and b.kr stay, c.kr moves to another folder, d.kr is split into
  // b.kr and a new e.kr; lines are deleted, inserted, edited and moved
  // between the scripts that stay.
  patch.newNames = {"a.kr", "b.kr", "sub/c.kr", "e.kr"};
  patch.newScripts.resize(4);
  std::vector<Line> movedAway;
  const std::size_t from[] = {0, 1, 2};
  for (const std::size_t s : from) {
    const std::vector<TranslationEntry>& file = patch.oldFiles[s];
    std::vector<Line>& lines = patch.newScripts[s];
    bool lastKept = true;
    for (std::size_t i = 0; i < file.size(); ++i) {
      const TranslationEntry& entry = file[i];
      if (entry.obsolete) {
        continue;
      }
      const unsigned roll = random() % 20;
      if (roll == 0) {
        lastKept = false;  // deleted
      } else if (roll == 1) {
        lines.push_back({randomLine(random), Fate::inserted, nullptr});
        lines.push_back({entry.source, Fate::unchanged, &entry});
        lastKept = false;
      } else if (roll == 2 && s != 2) {
        movedAway.push_back({entry.source, Fate::moved, &entry});
        lastKept = false;
      } else if (roll == 3 && lastKept && entry.source.size() >= 30 &&
                 std::find(kRepeated.begin(), kRepeated.end(), entry.source) == kRepeated.end()) {
        lines.push_back({edited(entry.source, random), Fate::edited, &entry});
        // The next line stays, so the edited one lies between matched lines.
        if (i + 1 < file.size() && !file[i + 1].obsolete) {
          lines.push_back({file[i + 1].source, Fate::unchanged, &file[i + 1]});
          ++i;
        }
        lastKept = true;
      } else {
        lines.push_back({entry.source, Fate::unchanged, &entry});
        lastKept = true;
      }
    }
  }
  for (const TranslationEntry& entry : patch.oldFiles[3]) {
    if (!entry.obsolete) {
      const std::size_t s = random() % 2 == 0 ? 1 : 3;
      patch.newScripts[s].push_back({entry.source, Fate::moved, &entry});
    }
  }
  for (Line& line : movedAway) {
    std::vector<Line>& to = patch.newScripts[random() % 2];
    to.insert(to.begin() + static_cast<std::ptrdiff_t>(random() % (to.size() + 1)), line);
  }
  return patch;
}

UpdateInput inputFor(const Patch& patch, std::vector<std::vector<TranslationEntry>> oldFiles,
                     const std::vector<std::string>& oldNames) {
  UpdateInput input;
  for (const std::vector<TranslationEntry>& entries : oldFiles) {
    EntryList& file = input.oldFiles.emplace_back();
    for (const TranslationEntry& entry : entries) {
      file.add(entry);
    }
  }
  for (const std::string& name : oldNames) {
    const auto at = std::find(patch.newNames.begin(), patch.newNames.end(), name);
    input.scriptAtPath.push_back(at == patch.newNames.end()
                                     ? kNoScript
                                     : static_cast<std::size_t>(at - patch.newNames.begin()));
    input.nearestScript.push_back(0);
  }
  for (std::size_t s = 0; s < patch.newScripts.size(); ++s) {
    EntryList& entries = input.newScripts.emplace_back();
    for (std::size_t j = 0; j < patch.newScripts[s].size(); ++j) {
      entries.add(entryAt(patch.newNames[s], j, patch.newScripts[s][j].source));
    }
  }
  return input;
}

// An updated script's counts, and its entries in order.
struct Updated {
  UpdateCounts counts;
  std::vector<TranslationEntry> entries;
};

std::vector<Updated> update(const UpdateInput& input) {
  std::vector<Updated> out;
  for (const UpdatedScript& script : updateTranslations(input)) {
    Updated& updated = out.emplace_back();
    updated.counts = script.counts;
    script.entries(input,
                   [&updated](const TranslationEntry& entry) { updated.entries.push_back(entry); });
  }
  return out;
}

std::vector<TranslationEntry> throughPo(const std::vector<TranslationEntry>& entries,
                                        const std::string& keep) {
  std::string po = poHeader("utf-8");
  for (const TranslationEntry& entry : entries) {
    appendPoEntry(po, entry);
  }
  if (!keep.empty()) {
    std::ofstream(keep, std::ios::binary) << po;
  }
  auto read = readPo(po);
  if (!read) {
    ADD_FAILURE() << read.problem().describe();
    return {};
  }
  return std::move(read->entries);
}

bool gettextInstalled() {
#ifdef _WIN32
  return false;
#else
  return std::system("msgfmt --version >/dev/null 2>&1") == 0;
#endif
}

TEST(UpdateTest, EveryTranslationGoesWhereItsTextWentAndStaysThere) {
  const bool gettext = gettextInstalled();
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const Patch patch = randomPatch(random);
    const std::vector<Updated> updated = update(inputFor(patch, patch.oldFiles, patch.oldNames));
    ASSERT_EQ(updated.size(), patch.newScripts.size());

    // Which old translations are the same text's, to check a repeated line
    // against.
    std::map<std::string, std::string> textOf;  // translation -> source
    std::map<std::string, std::string> noteOf;  // translation -> translator comment
    std::size_t translations = 0;
    for (const auto& file : patch.oldFiles) {
      for (const TranslationEntry& entry : file) {
        if (!entry.target.empty()) {
          textOf[entry.target] = entry.source;
          noteOf[entry.target] = entry.translatorComment;
          ++translations;
        }
      }
    }
    std::map<std::string, int> seen;  // every translation, exactly once
    for (std::size_t s = 0; s < updated.size(); ++s) {
      const std::vector<Line>& lines = patch.newScripts[s];
      const std::vector<TranslationEntry>& entries = updated[s].entries;
      ASSERT_GE(entries.size(), lines.size());
      for (std::size_t j = 0; j < entries.size(); ++j) {
        const TranslationEntry& got = entries[j];
        if (!got.target.empty()) {
          ++seen[got.target];
          // A translation keeps what its translators wrote about it.
          EXPECT_EQ(got.translatorComment, noteOf[got.target]);
        }
        if (j >= lines.size()) {
          EXPECT_TRUE(got.obsolete) << got.source;
          continue;
        }
        const Line& line = lines[j];
        SCOPED_TRACE(patch.newNames[s] + " line " + std::to_string(j) + " " + line.source);
        EXPECT_FALSE(got.obsolete);
        EXPECT_EQ(got.source, line.source);
        if (line.fate == Fate::inserted) {
          EXPECT_EQ(got.target, "");
        } else if (line.fate == Fate::edited) {
          EXPECT_EQ(got.target, line.origin->target);
          if (!line.origin->target.empty()) {
            EXPECT_TRUE(got.fuzzy);
            EXPECT_EQ(got.previousSource, line.origin->fuzzy && !line.origin->previousSource.empty()
                                              ? line.origin->previousSource
                                              : line.origin->source);
          }
        } else if (line.origin->target.empty() ||
                   std::find(kRepeated.begin(), kRepeated.end(), line.source) == kRepeated.end()) {
          // Unchanged and moved lines keep their own translation and flags.
          EXPECT_EQ(got.target, line.origin->target);
          EXPECT_EQ(got.fuzzy, line.origin->fuzzy);
          EXPECT_EQ(got.previousSource, line.origin->previousSource);
        } else {
          // Of several copies of a line that moved, one copy's translation.
          ASSERT_FALSE(got.target.empty());
          EXPECT_EQ(textOf[got.target], line.source);
        }
      }
    }
    // None lost, none doubled: what went nowhere is kept as obsolete.
    EXPECT_EQ(seen.size(), translations);
    for (const auto& [target, count] : seen) {
      EXPECT_EQ(count, 1) << target;
    }

    // Once more on its own output, written and read back: nothing changes.
    std::vector<std::vector<TranslationEntry>> again;
    for (std::size_t s = 0; s < updated.size(); ++s) {
      const std::string keep = gettext && seed == 1
                                   ? testing::TempDir() + "krscript-update-" +
                                         std::to_string(std::random_device()()) + ".po"
                                   : "";
      again.push_back(throughPo(updated[s].entries, keep));
      if (!keep.empty()) {
        EXPECT_EQ(std::system(("msgfmt --check -o /dev/null '" + keep + "' 2>/dev/null").c_str()),
                  0);
        std::remove(keep.c_str());
      }
    }
    const std::vector<Updated> fixed = update(inputFor(patch, std::move(again), patch.newNames));
    for (std::size_t s = 0; s < updated.size(); ++s) {
      ASSERT_EQ(fixed[s].entries.size(), updated[s].entries.size());
      EXPECT_EQ(fixed[s].counts.moved + fixed[s].counts.fuzzy, 0u);
      for (std::size_t j = 0; j < fixed[s].entries.size(); ++j) {
        const TranslationEntry& a = updated[s].entries[j];
        const TranslationEntry& b = fixed[s].entries[j];
        EXPECT_EQ(a.offset + a.comment + a.reference + a.source + a.target + a.previousSource +
                      a.translatorComment,
                  b.offset + b.comment + b.reference + b.source + b.target + b.previousSource +
                      b.translatorComment);
        EXPECT_EQ(a.fuzzy, b.fuzzy);
        EXPECT_EQ(a.obsolete, b.obsolete);
      }
    }
  }
}

// What gettext reads back: each file written passes msgfmt --check, so no two
// entries share msgctxt and msgid, also when obsolete entries of several
// scripts end up in one file; and a second update on its output writes the
// same file again.
TEST(UpdateTest, ObsoleteEntriesOfSeveralScriptsStayApart) {
  const auto translated = [](const std::string& script, std::size_t position, std::string source,
                             std::string target) {
    TranslationEntry entry = entryAt(script, position, std::move(source));
    entry.target = std::move(target);
    return entry;
  };
  Patch patch;
  patch.oldNames = {"a.kr", "b.kr"};
  // b.kr once held both a live "Yes." at 0 and an obsolete one.
  TranslationEntry twice = translated("b.kr", 0, "Yes.", "Oui, déjà.");
  twice.obsolete = true;
  patch.oldFiles = {{translated("a.kr", 0, "Yes.", "Sí.")},
                    {translated("b.kr", 0, "Yes.", "Oui."), twice}};
  patch.newNames = {"a.kr"};
  patch.newScripts = {{{"Something else.", Fate::inserted, nullptr}}};
  std::vector<std::string> offsets;
  std::string first;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("update " + std::to_string(round + 1));
    const std::vector<Updated> updated =
        update(inputFor(patch, patch.oldFiles, round == 0 ? patch.oldNames : patch.newNames));
    ASSERT_EQ(updated.size(), 1u);
    const std::vector<TranslationEntry>& entries = updated[0].entries;
    ASSERT_EQ(entries.size(), 4u);
    std::string po = poHeader("utf-8");
    for (const TranslationEntry& entry : entries) {
      appendPoEntry(po, entry);
    }
    if (round == 0) {
      first = po;
      // a.kr's own obsolete entry keeps its offset; b.kr's say where they
      // were, the one that met another entry with a number after it.
      for (std::size_t k = 1; k < entries.size(); ++k) {
        offsets.push_back(entries[k].offset + "=" + entries[k].target);
      }
      EXPECT_EQ(offsets, (std::vector<std::string>{"00000000=Sí.", "b.kr:00000000=Oui.",
                                                   "b.kr:00000000 (2)=Oui, déjà."}));
    } else {
      EXPECT_EQ(po, first);
    }
    if (gettextInstalled()) {
      const std::string path = testing::TempDir() + "krscript-obsolete-" +
                               std::to_string(std::random_device()()) + ".po";
      std::ofstream(path, std::ios::binary) << po;
      EXPECT_EQ(std::system(("msgfmt --check -o /dev/null '" + path + "'").c_str()), 0) << po;
      std::remove(path.c_str());
    }
    const std::vector<TranslationEntry> back = throughPo(entries, "");
    ASSERT_EQ(back.size(), entries.size());
    for (std::size_t k = 0; k < back.size(); ++k) {
      EXPECT_EQ(back[k].offset, entries[k].offset);
    }
    patch.oldFiles = {back};
  }
}

// Edited lines that also changed places, between two lines that stayed: each
// takes the translation of its own old line, the most similar of all (one
// character changed) though others share three words of four with it.
TEST(UpdateTest, EditedLinesTakeTheMostSimilarOldOnesWhereverTheyWent) {
  const std::vector<std::string> words = {"Tree",  "bird",  "sun",  "grass",
                                          "stone", "whale", "rain", "moon"};
  for (const std::size_t count : {40u, 200u}) {
    SCOPED_TRACE(std::to_string(count) + " lines");
    std::mt19937 random(static_cast<unsigned>(count));
    std::vector<std::string> texts;
    while (texts.size() < count) {
      std::string text;
      for (int w = 0; w < 4; ++w) {
        text += (w == 0 ? "" : " ") + words[random() % words.size()];
      }
      if (std::find(texts.begin(), texts.end(), text + ".") == texts.end()) {
        texts.push_back(text + ".");
      }
    }
    Patch patch;
    patch.oldNames = patch.newNames = {"a.kr"};
    std::vector<TranslationEntry>& old = patch.oldFiles.emplace_back();
    std::vector<Line>& lines = patch.newScripts.emplace_back();
    old.push_back(entryAt("a.kr", 0, "First, unchanged."));
    for (std::size_t i = 0; i < count; ++i) {
      old.push_back(entryAt("a.kr", i + 1, texts[i]));
    }
    old.push_back(entryAt("a.kr", count + 1, "Last, unchanged."));
    for (std::size_t i = 0; i < old.size(); ++i) {
      old[i].target = "T" + std::to_string(i);
    }
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
      order[i] = i + 1;
    }
    std::shuffle(order.begin(), order.end(), random);
    lines.push_back({old.front().source, Fate::unchanged, &old.front()});
    for (const std::size_t i : order) {
      std::string text = old[i].source;
      text.back() = '!';
      lines.push_back({text, Fate::edited, &old[i]});
    }
    lines.push_back({old.back().source, Fate::unchanged, &old.back()});

    const std::vector<Updated> updated = update(inputFor(patch, patch.oldFiles, patch.oldNames));
    std::size_t wrong = 0;
    for (std::size_t j = 0; j < lines.size(); ++j) {
      const TranslationEntry& got = updated[0].entries[j];
      wrong += got.target == lines[j].origin->target && got.fuzzy == (lines[j].fate == Fate::edited)
                   ? 0
                   : 1;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(updated[0].counts.fuzzy, count);
  }
}

// The characters two texts share in order, the plain way: a table of every
// prefix of one against every prefix of the other.
std::size_t plainCommonLength(const std::u32string& a, const std::u32string& b) {
  std::vector<std::size_t> row(b.size() + 1), next(b.size() + 1);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      next[j] = a[i - 1] == b[j - 1] ? row[j - 1] + 1 : std::max(row[j], next[j - 1]);
    }
    std::swap(row, next);
  }
  return row[b.size()];
}

std::string utf8(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Up to the length compared whole, the similarity is exactly twice the
// characters shared in order over the characters of both, whatever the texts
// share at their ends and wherever they cross a word of 64 characters. Past
// it, long texts are compared in pieces: never more than they share, and all
// of it where they differ only in characters changed in place.
TEST(UpdateTest, SimilarityIsTwiceTheCharactersSharedInOrder) {
  std::mt19937 random(5);
  const std::u32string alphabet = U"abcdeあいう。";
  const auto randomText = [&](std::size_t length) {
    std::u32string text;
    for (std::size_t i = 0; i < length; ++i) {
      text += alphabet[random() % alphabet.size()];
    }
    return text;
  };
  for (int round = 0; round < 300; ++round) {
    const std::u32string shared = randomText(random() % 3 == 0 ? random() % 100 : 0);
    const std::u32string a = shared + randomText(random() % 200) + shared;
    const std::u32string b = randomText(random() % 3) + shared + randomText(random() % 200);
    const double want = a.empty() && b.empty()
                            ? 1.0
                            : 2.0 * static_cast<double>(plainCommonLength(a, b)) /
                                  static_cast<double>(a.size() + b.size());
    ASSERT_DOUBLE_EQ(textSimilarity(utf8(a), utf8(b)), want) << utf8(a) << " / " << utf8(b);
  }
  for (const std::size_t length : {4000u, 4096u, 4097u, 9000u}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const std::u32string a = randomText(length);
    std::u32string b = randomText(length - random() % 50);
    const double exact = 2.0 * static_cast<double>(plainCommonLength(a, b)) /
                         static_cast<double>(a.size() + b.size());
    const double got = textSimilarity(utf8(a), utf8(b));
    if (length <= 4096) {
      EXPECT_DOUBLE_EQ(got, exact);
    } else {
      EXPECT_LE(got, exact);
      EXPECT_GE(got, 0.95 * exact);
    }
    b = a;
    for (std::size_t at : {std::size_t{1}, length / 3, length - 2}) {
      b[at] = U'x';
    }
    EXPECT_DOUBLE_EQ(textSimilarity(utf8(a), utf8(b)),
                     static_cast<double>(length - 3) / static_cast<double>(length));
  }
}

// Two golden cases of the rules at their edges. A text said twice with two
// translations, moved away with the line two before one copy, the line
// between deleted, goes with the copy after the line it followed. A text exactly as similar as
// asked takes the translation (2 x 3 characters of 10: 0.6, the default); one with a character more
// does not (6 of 11).
TEST(UpdateTest, RepeatedLinesMoveWithTheirNeighboursAndTheThresholdIsIncluded) {
  const auto translated = [](std::size_t position, std::string source) {
    TranslationEntry entry = entryAt("a.kr", position, source);
    entry.target = "T(" + source + ")@" + std::to_string(position);
    return entry;
  };
  Patch patch;
  patch.oldNames = {"a.kr"};
  patch.oldFiles = {{translated(0, "はい。"), translated(1, "Second."), translated(2, "Deleted."),
                     translated(3, "はい。"), translated(4, "abcde"), translated(5, "vwxyz"),
                     translated(6, "Last.")}};
  patch.newNames = {"a.kr", "b.kr"};
  const auto& old = patch.oldFiles[0];
  patch.newScripts = {{{"abcxy", Fate::edited, &old[4]},
                       {"vwx123", Fate::inserted, nullptr},
                       {"Last.", Fate::unchanged, &old[6]}},
                      {{"Second.", Fate::moved, &old[1]},
                       {"はい。", Fate::moved, &old[3]},
                       {"はい。", Fate::moved, &old[0]}}};
  const std::vector<Updated> updated = update(inputFor(patch, patch.oldFiles, patch.oldNames));
  for (std::size_t s = 0; s < patch.newScripts.size(); ++s) {
    for (std::size_t j = 0; j < patch.newScripts[s].size(); ++j) {
      const Line& line = patch.newScripts[s][j];
      SCOPED_TRACE(patch.newNames[s] + " " + line.source);
      EXPECT_EQ(updated[s].entries[j].target, line.origin ? line.origin->target : "");
      EXPECT_EQ(updated[s].entries[j].fuzzy, line.fate == Fate::edited);
    }
  }
}

TEST(UpdateTest, SimilarityCountsCharactersNotBytes) {
  EXPECT_DOUBLE_EQ(textSimilarity("abcd", "abcd"), 1.0);
  EXPECT_DOUBLE_EQ(textSimilarity("abcd", "abxd"), 0.75);
  // あ and い share two of their three bytes, and no character.
  EXPECT_DOUBLE_EQ(textSimilarity("あ", "い"), 0.0);
  EXPECT_DOUBLE_EQ(textSimilarity("はい。", "はい！"), 2.0 * 2 / 6);
  // Past 64 characters the comparison goes on in the next word.
  const std::string longer(150, 'x');
  EXPECT_DOUBLE_EQ(textSimilarity(longer, longer + "yy"), 300.0 / 302);
}

TEST(UpdateTest, CommonSubsequenceOfLongSequencesWithFewEdits) {
  std::mt19937 random(3);
  std::vector<std::uint32_t> a(50000);
  for (std::uint32_t& value : a) {
    value = random() % 40000;  // repeats too
  }
  std::vector<std::uint32_t> b = a;
  for (int edit = 0; edit < 300; ++edit) {
    const std::size_t at = random() % b.size();
    if (edit % 2 == 0) {
      b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), 50000 + edit);
    }
  }
  const auto pairs = commonSubsequence(a, b);
  // At most the 150 deleted lines are missing, and the pairs are a common
  // subsequence.
  EXPECT_GE(pairs.size(), a.size() - 150);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    ASSERT_EQ(a[pairs[k].first], b[pairs[k].second]);
    if (k > 0) {
      ASSERT_LT(pairs[k - 1].first, pairs[k].first);
      ASSERT_LT(pairs[k - 1].second, pairs[k].second);
    }
  }
}

}  // namespace
}  // namespace krlist
