#pragma once

#include <string_view>

namespace krlist::edit {

// The editor's script and style sheet, from editor.js and editor.css beside
// this header, built into the program so that it serves them wherever it
// is installed.
extern const std::string_view kEditorScript;
extern const std::string_view kEditorStyle;

}  // namespace krlist::edit
