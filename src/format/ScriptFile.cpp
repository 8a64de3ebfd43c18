#include "format/ScriptFile.h"

#include <cstdio>
#include <utility>

#include "io/Files.h"

namespace krlist {

Expected<void> openAndDecode(const std::filesystem::path& path, const std::string& name,
                             DecodedScript& script) {
  std::string error;
  std::FILE* file = openInput(path, error);
  if (file == nullptr) {
    Problem problem;
    problem.where.file = name;
    problem.message = std::move(error);
    return problem;
  }
  (void)script.bytes.load(file);  // a failed read is told by the decode
  std::fclose(file);
  script.stop = script.decoder.decode(script.bytes);
  return {};
}

}  // namespace krlist
