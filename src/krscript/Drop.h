#pragma once

#include <string>
#include <vector>

namespace krlist {

// Drop mode: what krscript does with paths dropped onto it in a file manager,
// which starts it with those paths and no command. Each output goes beside
// its input, so that there is nothing to ask: a script x.kr is dumped to
// x.kr.json, a folder DIR to the folder DIR-json, and a JSON form x.kr.json is
// built into x.kr, or into x.new.kr when x.kr exists, so that the script it
// came from is kept. One line per path says what was made, a last line how
// many files went well and how many failed in all, and the program waits
// for Enter, so that the console window opened for it stays open.
// Returns the exit status: 0 when every path went well, otherwise 1.
int runDrop(const std::vector<std::string>& paths);

}  // namespace krlist
