#include "json/JsonSource.h"

#include <algorithm>
#include <cstring>

#include "io/Files.h"

namespace krlist {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

}  // namespace

JsonSource::JsonSource(std::FILE* file, std::filesystem::path path) : file_(file) {
  if (!path.empty()) {
    size_ = regularFileSize(file);
    path_ = std::move(path);
  }
}

JsonSource::JsonSource(std::string_view text)
    : block_(text.data()), next_(text.data()), end_(text.data() + text.size()), ended_(true) {}

void JsonSource::skipByteOrderMark() {
  if (next_ == end_) {
    refill();
  }
  if (end_ - next_ >= 3 && std::memcmp(next_, "\xEF\xBB\xBF", 3) == 0) {
    next_ += 3;
  }
}

bool JsonSource::refill() {
  if (ended_) {
    return false;
  }
  // Called when every byte read has been taken: what stays in memory is the
  // text from the offset the reader keeps, up to kKeptAtMost bytes of it.
  const std::uint64_t now = offset();
  std::uint64_t keep = std::min(keptFrom_, now);
  keep = std::max({keep, blockOffset_, now > kKeptAtMost ? now - kKeptAtMost : 0});
  countColumns(keep);
  const auto kept = static_cast<std::size_t>(now - keep);
  const char* keptStart = block_ + (keep - blockOffset_);
  if (buffer_.size() < kept + kBlockSize) {
    std::vector<char> larger(kept + kBlockSize);
    if (kept > 0) {
      std::memcpy(larger.data(), keptStart, kept);
    }
    buffer_.swap(larger);
  } else if (kept > 0) {
    std::memmove(buffer_.data(), keptStart, kept);
  }
  const std::size_t got = std::fread(buffer_.data() + kept, 1, kBlockSize, file_);
  block_ = buffer_.data();
  blockOffset_ = keep;
  next_ = block_ + kept;
  end_ = next_ + got;
  if (got == 0) {
    ended_ = true;
    readFailed_ = std::ferror(file_) != 0;
    return false;
  }
  return true;
}

std::uint64_t JsonSource::charactersBetween(std::uint64_t from, std::uint64_t to) const {
  std::uint64_t characters = 0;
  const char* end = block_ + (to - blockOffset_);
  for (const char* at = block_ + (from - blockOffset_); at < end; ++at) {
    characters += (static_cast<unsigned char>(*at) & 0xC0) != 0x80;  // not a continuation byte
  }
  return characters;
}

void JsonSource::countColumns(JsonPlace& place, std::uint64_t to) const {
  const std::uint64_t upTo = std::min(to, place.offset);
  if (place.baseOffset < upTo) {
    place.base += charactersBetween(place.baseOffset, upTo);
    place.baseOffset = upTo;
  }
}

void JsonSource::countColumns(std::uint64_t to) {
  if (baseOffset_ < to) {
    base_ += charactersBetween(baseOffset_, to);
    baseOffset_ = to;
  }
  countColumns(token_, to);
  for (JsonPlace* place : places_) {
    countColumns(*place, to);
  }
}

std::unique_ptr<JsonSource> JsonSource::readerFrom(std::uint64_t offset, char opener) const {
  if (offset == 0 || offset >= size_) {
    return nullptr;
  }
  const Expected<std::FILE*> file = openInput(path_);
  if (!file) {
    return nullptr;
  }
  auto reader = std::make_unique<JsonSource>(*file);
  reader->ownFile_.reset(*file);
  if (!seekTo(*file, offset)) {
    return nullptr;
  }
  reader->blockOffset_ = offset;
  reader->baseOffset_ = offset;
  reader->token_ = reader->placeOf(offset);
  if (opener != 0) {
    reader->buffer_.assign(1, opener);
    reader->block_ = reader->buffer_.data();
    reader->next_ = reader->block_;
    reader->end_ = reader->block_ + 1;
    reader->blockOffset_ = offset - 1;
  }
  return reader;
}

void JsonSource::continueFrom(JsonSource&& other, const JsonPlace& place, std::uint64_t lineBase) {
  countColumns(offset());
  file_ = other.file_;
  ownFile_ = std::move(other.ownFile_);
  buffer_ = std::move(other.buffer_);
  block_ = other.block_;
  end_ = other.end_;
  blockOffset_ = other.blockOffset_;
  keptFrom_ = other.keptFrom_;
  ended_ = other.ended_;
  readFailed_ = other.readFailed_;
  next_ = block_ + (place.offset - blockOffset_);
  line_ = place.line + lineBase;
  base_ = place.base;
  baseOffset_ = place.baseOffset;
  token_ = placeOf(place.offset);
}

bool JsonSource::rewind(const JsonPlace& place) {
  if (place.offset < blockOffset_ || place.offset > offset() || place.baseOffset < blockOffset_) {
    return false;
  }
  next_ = block_ + (place.offset - blockOffset_);
  line_ = place.line;
  base_ = place.base;
  baseOffset_ = place.baseOffset;
  return true;
}

JsonSource::Position JsonSource::positionOf(const JsonPlace& place) const {
  const std::uint64_t endOffset = blockOffset_ + static_cast<std::uint64_t>(end_ - block_);
  const std::uint64_t from = std::max(place.baseOffset, blockOffset_);
  const std::uint64_t to = std::min(place.offset, endOffset);
  return {place.line, place.base + (from < to ? charactersBetween(from, to) : 0) + 1};
}

std::string_view JsonSource::keptText(std::uint64_t from, std::uint64_t to) const {
  const std::uint64_t endOffset = blockOffset_ + static_cast<std::uint64_t>(end_ - block_);
  to = std::min(to, endOffset);
  if (from < blockOffset_ || from > to) {
    return {};
  }
  return {block_ + (from - blockOffset_), static_cast<std::size_t>(to - from)};
}

}  // namespace krlist
