#include "format/ScriptFile.h"

#include <cstdio>

#include "io/Files.h"

namespace krlist {

Expected<void> openAndDecode(const std::filesystem::path& path, const std::string& name,
                             DecodedScript& script) {
  Expected<std::FILE*> file = openInput(path);
  if (!file) {
    file.problem().where.file = name;
    return file.problem();
  }
  (void)script.bytes.load(*file);  // a failed read is told by the decode
  std::fclose(*file);
  script.stop = script.decoder.decode(script.bytes);
  return {};
}

}  // namespace krlist
