#pragma once

#include <cstdint>
#include <map>

#include "html/Site.h"

namespace krlist {

class ProfileBoxes;

// The boxes of the profile as pages draw them (html, edit), by opcode as
// ProfileBoxes has them: a font drawn in several boxes is one font of the
// pages.
std::map<int, html::DrawnBox> drawnBoxes(const ProfileBoxes& boxes);
// The box of `opcode`'s strings among them: its own, or [box]'s; null for
// none.
const html::DrawnBox* drawnBoxFor(const std::map<int, html::DrawnBox>& boxes, std::uint8_t opcode);

}  // namespace krlist
