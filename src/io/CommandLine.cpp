#include "io/CommandLine.h"

#ifdef _WIN32
#include <windows.h>

#include "io/Files.h"
#endif

namespace krlist {

#ifdef _WIN32
std::vector<std::string> commandLine(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(pathToUtf8(std::filesystem::path(wide[i])));
  }
  LocalFree(wide);
  return arguments;
}
#else
std::vector<std::string> commandLine(int argc, char** argv) {
  return {argv, argv + argc};
}
#endif

}  // namespace krlist
