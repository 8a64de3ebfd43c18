#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krlist {

// Whether `path`, a path relative to the folder of a run with '/' between
// its names, matches a pattern written as in .gitignore:
// - `*` matches any run of characters within a name, `?` one character of a
//   name, `[a-z]` and `[!a-z]` (or `[^a-z]`) one character of a set, and `\`
//   takes the next character as it is;
// - `**` between slashes, at the start (`**/x`) or at the end (`x/**`)
//   matches any number of whole names, none included; elsewhere it is `*`;
// - a pattern with no slash but a last one matches the last name of the path
//   alone, at any depth; one with a slash matches from the top of the folder
//   (a leading slash only says so);
// - a last slash limits the pattern to folders (`isFolder` says what the
//   path is).
bool matchesGlob(std::string_view pattern, std::string_view path, bool isFolder);

// The files of a folder run: those that an --include pattern names, or all
// when there is none, less those that an --exclude pattern names. A pattern
// that names a folder names every file under it. Patterns are relative to
// the run's folder, or, given `base` (the run's folder relative to theirs,
// '/' between names), to a folder above it: a profile's patterns are
// written from the profile's folder, whichever folder below it a run takes.
class PathFilter {
 public:
  PathFilter() = default;
  PathFilter(std::vector<std::string> include, std::vector<std::string> exclude,
             std::string base = {})
      : include_(std::move(include)), exclude_(std::move(exclude)), base_(std::move(base)) {}

  // Whether the file at `path` (relative, '/' between names) is taken.
  bool takes(std::string_view path) const;
  // Whether nothing under the folder at `path` can be taken, so that the
  // walk need not enter it.
  bool leavesOutFolder(std::string_view path) const;

 private:
  std::vector<std::string> include_;
  std::vector<std::string> exclude_;
  std::string base_;
};

}  // namespace krlist
