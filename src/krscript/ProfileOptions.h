#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "krscript/Options.h"
#include "translate/LineWrap.h"

namespace krlist {

// The game's profile (profile/Profile.h) as the commands take it.

// Reads the profile a command runs with into `options.profile`: the one
// --profile names, or else the krscript.toml of the folder of the first
// input (the folder itself, or the script's) or of the nearest folder above
// it. What the command line does not give is taken from it: the encoding,
// the language, the include and exclude patterns (when the command line gives
// neither) and the substitution table. False, with the profile's problem
// (FILE:LINE:COLUMN: what) printed, when it cannot be read: the command then
// stops before anything is written. A command that takes no profile is left
// as it is.
bool applyProfile(Options& options);

// The files of the profile: itself, its substitution table and the faces of
// its boxes. None is ever a script of a folder run, and no output may
// replace any.
std::vector<std::filesystem::path> profileFiles(const Options& options);

// The boxes of the profile as inject wraps translations to them and lint
// checks them: each in its font's design units (or a widths table's pixels),
// wrapped to the box's width or --wrap's pixels (not at all with --no-wrap),
// checked against the box's width and lines or --width's pixels and
// --lines. Empty without a box.
class ProfileBoxes {
 public:
  explicit ProfileBoxes(const Options& options);
  ~ProfileBoxes();
  ProfileBoxes(const ProfileBoxes&) = delete;
  ProfileBoxes& operator=(const ProfileBoxes&) = delete;

  bool empty() const { return fits_.empty(); }
  // The box of `opcode`'s strings: its own, or [box].
  const BoxFit* boxFor(std::uint8_t opcode) const;

  // What html needs to draw a box as the game does, besides its fit.
  struct Look {
    std::filesystem::path font;  // empty for a widths table
    std::uint32_t size = 0;      // pixels per em
    std::uint32_t width = 0;     // pixels
    std::map<std::string, std::string> placeholders;
  };
  // The look of each box, by opcode as fits are, -1 for [box].
  const std::map<int, Look>& looks() const { return looks_; }
  const BoxFit* fitOf(int key) const { return &fits_.at(key); }

 private:
  struct Box;
  std::vector<std::unique_ptr<Box>> boxes_;
  std::map<int, BoxFit> fits_;  // by opcode, -1 for [box]
  std::map<int, Look> looks_;
};

// krscript init DIR: writes DIR/krscript.toml, commented, with what the
// scripts of DIR tell. Refuses (1) when the folder has one already.
int runInit(const Options& options);

}  // namespace krlist
