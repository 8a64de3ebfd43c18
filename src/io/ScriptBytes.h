#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace krlist {

// The whole of a script's bytes in memory, where the decoder and the listing
// read them: a regular file is mapped, anything else (a pipe) is read in
// blocks.
class ScriptBytes {
 public:
  ScriptBytes() = default;
  ScriptBytes(const ScriptBytes&) = delete;
  ScriptBytes& operator=(const ScriptBytes&) = delete;
  ~ScriptBytes();

  // Reads all of `file`, which the caller keeps open and closes; a file that
  // cannot be mapped is read `blockSize` bytes at a time (tests make it
  // small). False when a read fails: the bytes before the failure stay.
  [[nodiscard]] bool load(std::FILE* file, std::size_t blockSize = kBlockSize);
  // Takes bytes that the caller keeps alive.
  void view(const std::uint8_t* bytes, std::size_t size);

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // True when reading the file failed, as opposed to reaching its end.
  bool readFailed() const { return readFailed_; }
  // The bytes from `offset` to the end.
  std::string_view from(std::uint64_t offset) const {
    return {reinterpret_cast<const char*>(data_) + offset, size_ - offset};
  }

  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

 private:
  struct Free {
    void operator()(std::uint8_t* bytes) const;
  };

  // The size of `file` when it is a regular file, and 0 when that is not
  // known.
  static std::size_t regularFileSize(std::FILE* file);
  // Makes room for `capacity` bytes, keeping those read.
  void reserve(std::size_t capacity);
  bool map(std::FILE* file);
  void unmap();

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::unique_ptr<std::uint8_t[], Free> buffer_;  // the bytes, when they were read
  std::size_t capacity_ = 0;
  void* mapping_ = nullptr;  // the bytes, when they were mapped
  bool readFailed_ = false;
};

}  // namespace krlist
