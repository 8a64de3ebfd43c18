#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "translate/TranslationFile.h"

namespace krlist {

// Carrying translations over to a new version of the scripts. A patch
// inserts, removes, corrects and moves lines, and moves whole scripts, so a
// string's offset says nothing across versions: an entry is followed by its
// text and its place among the others.
//
// For each new script, its strings are matched against the old translation
// file at its path by a diff of the two sequences of texts, which keeps what
// did not change whatever moved around it. What is left is matched by the
// same text anywhere in the run (a line moved within its script, to another
// script, or a script moved to another folder), then by similar text between
// the lines that matched: an edited line takes the old translation marked
// fuzzy, with the old text beside it. A translation that matches nothing is
// kept as an obsolete entry, and an obsolete entry whose text comes back is
// used again.

constexpr std::size_t kNoScript = std::numeric_limits<std::size_t>::max();

struct UpdateCounts {
  std::size_t kept = 0;      // the same text at its place
  std::size_t moved = 0;     // the same text from elsewhere
  std::size_t fuzzy = 0;     // a similar text's translation, to review
  std::size_t added = 0;     // nothing to carry over
  std::size_t obsolete = 0;  // translations kept for strings that went away

  UpdateCounts& operator+=(const UpdateCounts& other);
};

struct UpdateInput {
  // The entries of each old translation file as read, obsolete ones
  // included, in file order.
  std::vector<EntryList> oldFiles;
  // For each old file, the new script at its path, or kNoScript; and the new
  // script to hold its obsolete entries when there is none at its path and
  // none of its texts is found anywhere.
  std::vector<std::size_t> scriptAtPath;
  std::vector<std::size_t> nearestScript;
  // The entries of each new script as extract makes them: no translations.
  std::vector<EntryList> newScripts;
  // How alike, in characters, an edited text must be to its old one (0 to 1)
  // to take its translation.
  double similarity = 0.6;
};

// What an update made of one new script: where each of its lines takes its
// translation from, and the obsolete entries it keeps.
struct UpdatedScript {
  enum class Kind : std::uint8_t { none, kept, moved, fuzzy };
  struct Origin {
    Kind kind = Kind::none;  // none: nothing carried over
    std::size_t file = 0;    // in UpdateInput::oldFiles
    std::size_t entry = 0;   // in that file
  };

  std::size_t script = 0;  // in UpdateInput::newScripts
  std::vector<Origin> lines;
  std::vector<Origin> obsolete;
  UpdateCounts counts;

  // Hands the script's entries to `take` in order: its lines with the
  // translations carried over, then the obsolete entries it keeps.
  void entries(const UpdateInput& input, const EntrySink& take) const;
};

// One result per new script, in the order of `input.newScripts`.
std::vector<UpdatedScript> updateTranslations(const UpdateInput& input);

// The longest sequence of positions (i, j), increasing in both, where
// a[i] == b[j], or one close to it: equal runs at the ends are taken as they
// are, lines found once on each side anchor the rest, and stretches too long
// to compare whole are cut in proportion. Fast when few lines changed.
std::vector<std::pair<std::size_t, std::size_t>> commonSubsequence(
    std::span<const std::uint32_t> a, std::span<const std::uint32_t> b);

// 2 x the characters two texts (UTF-8) have in common, in order, over the
// characters of both: 1 for equal texts, 0 for texts with nothing in common.
double textSimilarity(std::string_view a, std::string_view b);

// The characters two texts share in order, as textSimilarity counts them:
// its numerator is twice this, its denominator the two lengths.
std::size_t commonCharacters(std::u32string_view a, std::u32string_view b);

}  // namespace krlist
