#pragma once

#include <string>
#include <vector>

namespace krlist {

// The program's arguments, the program's own name first. On Windows they are
// taken from the wide command line and carried in UTF-8: the narrow argv is a
// copy in the ANSI code page, where a name outside it (a Japanese folder on a
// Western system) turns into question marks and can no longer be opened.
std::vector<std::string> commandLine(int argc, char** argv);

}  // namespace krlist
