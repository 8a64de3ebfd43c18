#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace krlist {

// Placeholders: the parts of a text that a game replaces or acts on when it
// shows the text, rather than showing them. A translation must keep every
// placeholder of its source, and a line is measured without them, since they
// take no room as written. Recognised:
//
//   printf-style conversions   %d  %s  %1$s  %-5.2f  %%
//   braced fields              {0}  {name}  {}
//   tags                       <br>  </color>  <color=red>
//   backslash escapes          \n  \c  \\  (a backslash and the next character)
//
// A brace or angle bracket that does not close on the same line within 64
// bytes, or an angle bracket not followed by a letter or '/', is text.

// The length in bytes of the placeholder that starts at `text[at]`; 0 when
// none does.
std::size_t placeholderAt(std::string_view text, std::size_t at);

// Every placeholder of `text`, in order.
std::vector<std::string_view> findPlaceholders(std::string_view text);

}  // namespace krlist
