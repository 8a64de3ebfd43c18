#include "io/Problem.h"

#include <cstdio>

namespace krlist {

std::string Problem::describe() const {
  std::string text = where.file;
  if (where.line != 0) {
    text += ':' + std::to_string(where.line);
    if (where.column != 0) {
      text += ':' + std::to_string(where.column);
    }
  } else if (where.offset) {
    char offset[32];
    std::snprintf(offset, sizeof offset, ": 0x%08llX",
                  static_cast<unsigned long long>(*where.offset));
    text += offset;
  }
  if (!text.empty()) {
    text += ": ";
  }
  return text + message;
}

}  // namespace krlist
