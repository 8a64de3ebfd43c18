#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "io/Problem.h"

namespace krlist {

// The lines of a small table that a translator writes in any editor (a
// substitution table, a bitmap font's widths): UTF-8 with or without a
// byte-order mark, lines ended by a line feed or a carriage return and a
// line feed. Hands each line that is not empty, without its ending, to
// `take` with its number (1-based), and stops at the first message `take`
// returns, as a problem at that line of `fileName`. A text that is not
// UTF-8, or holds a U+0000, is refused at the line of its first bad byte
// before any line is taken.
Expected<void> readTableLines(
    std::string_view text, const std::string& fileName,
    const std::function<std::optional<std::string>(std::size_t number, std::string_view line)>&
        take);

}  // namespace krlist
