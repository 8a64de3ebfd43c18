#include "batch/PathFilter.h"

namespace krlist {

namespace {

// Matches one character against the set that `pattern` opens with '['.
// Returns the length of the set in the pattern, or 0 when there is no
// closing ']' (the '[' is then an ordinary character).
std::size_t matchSet(std::string_view pattern, unsigned char c, bool& matched) {
  std::size_t i = 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  i += negated ? 1 : 0;
  bool found = false;
  // A ']' right after the opening stands for itself.
  for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
    unsigned char low = static_cast<unsigned char>(pattern[i]);
    if (low == '\\' && i + 1 < pattern.size()) {
      low = static_cast<unsigned char>(pattern[++i]);
    }
    unsigned char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = static_cast<unsigned char>(pattern[i + 2]);
      i += 2;
    }
    found = found || (low <= c && c <= high);
    ++i;
  }
  if (i >= pattern.size()) {
    return 0;
  }
  matched = c != '/' && found != negated;
  return i + 1;
}

// `atName`: the pattern and the path both stand at the start of a name, where
// `**` may match whole names.
bool matchFrom(std::string_view pattern, std::string_view path, bool atName) {
  while (!pattern.empty()) {
    if (atName && pattern.substr(0, 2) == "**" && (pattern.size() == 2 || pattern[2] == '/')) {
      if (pattern.size() == 2) {
        return true;  // everything from here on, "x/**" all that is in x
      }
      // "**/" matches no name, or any number of names each with its slash.
      const std::string_view rest = pattern.substr(3);
      for (std::size_t at = 0;; ++at) {
        if (matchFrom(rest, path.substr(at), true)) {
          return true;
        }
        at = path.find('/', at);
        if (at == std::string_view::npos) {
          return false;
        }
      }
    }
    const char c = pattern[0];
    if (c == '*') {
      // Any run of characters within the name; "**" that is not a whole
      // name is the same.
      const std::size_t stars = pattern.find_first_not_of('*');
      const std::string_view rest =
          stars == std::string_view::npos ? std::string_view() : pattern.substr(stars);
      for (std::size_t length = 0;; ++length) {
        if (matchFrom(rest, path.substr(length), false)) {
          return true;
        }
        if (length == path.size() || path[length] == '/') {
          return false;
        }
      }
    }
    if (path.empty()) {
      return false;
    }
    bool matched = false;
    std::size_t taken =
        c == '[' ? matchSet(pattern, static_cast<unsigned char>(path[0]), matched) : 0;
    if (taken == 0) {
      if (c == '?') {
        matched = path[0] != '/';
      } else if (c == '\\' && pattern.size() > 1) {
        taken = 1;  // the escaped character is matched as it is
        matched = path[0] == pattern[1];
      } else {
        matched = path[0] == c;
      }
      ++taken;
    }
    if (!matched) {
      return false;
    }
    atName = path[0] == '/';
    pattern.remove_prefix(taken);
    path.remove_prefix(1);
  }
  return path.empty();
}

// Whether the pattern names the file or folder at `path`, or a folder that
// holds it.
bool namesPathOrFolder(std::string_view pattern, std::string_view path, bool isFolder) {
  if (matchesGlob(pattern, path, isFolder)) {
    return true;
  }
  for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    if (matchesGlob(pattern, path.substr(0, slash), true)) {
      return true;
    }
  }
  return false;
}

bool anyNames(const std::vector<std::string>& patterns, std::string_view path, bool isFolder) {
  for (const std::string& pattern : patterns) {
    if (namesPathOrFolder(pattern, path, isFolder)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool matchesGlob(std::string_view pattern, std::string_view path, bool isFolder) {
  if (pattern.size() > 1 && pattern.back() == '/') {
    if (!isFolder) {
      return false;
    }
    pattern.remove_suffix(1);
  }
  if (pattern.find('/') == std::string_view::npos) {
    const std::size_t slash = path.rfind('/');
    return matchFrom(pattern, slash == std::string_view::npos ? path : path.substr(slash + 1),
                     true);
  }
  if (pattern[0] == '/') {
    pattern.remove_prefix(1);
  }
  return matchFrom(pattern, path, true);
}

bool PathFilter::takes(std::string_view path) const {
  const std::string full = base_.empty() ? std::string(path) : base_ + '/' + std::string(path);
  return (include_.empty() || anyNames(include_, full, false)) && !anyNames(exclude_, full, false);
}

bool PathFilter::leavesOutFolder(std::string_view path) const {
  return anyNames(exclude_, base_.empty() ? std::string(path) : base_ + '/' + std::string(path),
                  true);
}

}  // namespace krlist
