#include "io/Files.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "io/HugePages.h"
#include "text/Utf8.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace krlist {

#ifdef _WIN32
std::filesystem::path pathFromUtf8(std::string_view name) {
  std::wstring wide;
  const int length = static_cast<int>(name.size());
  if (length > 0) {
    wide.resize(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, name.data(), length, nullptr, 0)));
    MultiByteToWideChar(CP_UTF8, 0, name.data(), length, wide.data(),
                        static_cast<int>(wide.size()));
  }
  return std::filesystem::path(wide);
}

std::string pathToUtf8(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  std::string name;
  const int length = static_cast<int>(wide.size());
  if (length > 0) {
    name.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr)));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, name.data(), static_cast<int>(name.size()),
                        nullptr, nullptr);
  }
  return name;
}

std::string pathToArgument(const std::filesystem::path& path) {
  return pathToUtf8(path);
}

std::string slashedPathToUtf8(const std::filesystem::path& relative) {
  std::string name = pathToUtf8(relative);
  for (char& c : name) {
    c = c == '\\' ? '/' : c;
  }
  return name;
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
}

bool isDirectory(std::FILE* file) {
  struct _stat64 status {};
  return _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
}

std::uint64_t regularFileSize(std::FILE* file) {
  struct _stat64 status {};
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFREG) == 0 ||
      status.st_size <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(status.st_size);
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}
#else
std::filesystem::path pathFromUtf8(std::string_view name) {
  return std::filesystem::path(std::string(name));
}

std::string pathToArgument(const std::filesystem::path& path) {
  return path.native();
}

std::string pathToUtf8(const std::filesystem::path& path) {
  const std::string& name = path.native();
  if (findInvalidUtf8(name) == std::string::npos && name.find('\\') == std::string::npos) {
    return name;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t at = 0; at < name.size();) {
    const Utf8Character character = readUtf8(name, at);
    const auto byte = static_cast<unsigned char>(name[at]);
    if (character.length == 0) {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
      ++at;
    } else if (byte == '\\') {
      text += "\\\\";
      ++at;
    } else {
      text.append(name, at, character.length);
      at += character.length;
    }
  }
  return text;
}

// A backslash is part of a name here, and pathToUtf8 writes it as two.
std::string slashedPathToUtf8(const std::filesystem::path& relative) {
  return pathToUtf8(relative);
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool isDirectory(std::FILE* file) {
  struct stat status {};
  return fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

std::uint64_t regularFileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(status.st_size);
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}
#endif

Expected<std::FILE*> openInput(const std::filesystem::path& path) {
  std::FILE* file = openFile(path, "rb");
  if (file == nullptr || isDirectory(file)) {
    const int error = file == nullptr ? errno : EISDIR;
    if (file != nullptr) {
      std::fclose(file);
    }
    return Problem::about(pathToUtf8(path),
                          "cannot open: " + std::generic_category().message(error));
  }
  return file;
}

Expected<std::string> readFile(const std::filesystem::path& path) {
  Expected<std::FILE*> file = openInput(path);
  if (!file) {
    return file.problem();
  }
  std::string bytes;
  // Room for the whole file at once rather than grown piece by piece.
  std::error_code sizeError;
  const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) {
    bytes.reserve(static_cast<std::size_t>(size));
    if (bytes.capacity() >= kHugePagesFrom) {
      adviseHugePages(bytes.data(), bytes.capacity());
    }
  }
  char block[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, *file)) > 0) {
    bytes.append(block, got);
  }
  const bool read = std::ferror(*file) == 0;
  std::fclose(*file);
  if (!read) {
    return Problem::about(pathToUtf8(path), "cannot read the file");
  }
  return bytes;
}

}  // namespace krlist
