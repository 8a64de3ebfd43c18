#include "json/SecondReader.h"

#include <algorithm>
#include <utility>

namespace krlist {

namespace {

constexpr std::uint64_t kTwoReadersFrom = std::uint64_t{4} << 20;
constexpr std::uint64_t kCutSearchedAtMost = std::uint64_t{1} << 20;

// Where the second reader starts: after a line that ends an instruction
// with "}," and at the next line, which opens one with "{". A line ends only
// between tokens (a string holds no line feed), so such a cut lies between
// two values of an array; only the code holds objects.
struct Cut {
  std::uint64_t objectEnd = 0;  // just after the "}" of the last instruction before it
  std::uint64_t lineStart = 0;
};

std::optional<Cut> findCut(const JsonSource& source) {
  const std::uint64_t size = source.sizeToReadAgain();
  if (size < kTwoReadersFrom) {
    return {};
  }
  const std::unique_ptr<JsonSource> probe = source.readerFrom(std::max(size / 2, source.offset()));
  if (!probe) {
    return {};
  }
  char last = 0;  // the last two bytes of the line but spaces
  char beforeLast = 0;
  std::uint64_t closeAt = 0;
  for (std::uint64_t read = 0; read < kCutSearchedAtMost && !probe->atEnd(); ++read) {
    const std::uint64_t at = probe->offset();
    const char c = probe->Take();
    if (c == ' ' || c == '\t' || c == '\r') {
      continue;
    }
    if (c != '\n') {
      beforeLast = last;
      last = c;
      closeAt = c == '}' ? at : closeAt;
      continue;
    }
    if (beforeLast == '}' && last == ',') {
      while (probe->Peek() == ' ' || probe->Peek() == '\t' || probe->Peek() == '\r') {
        probe->Take();
      }
      if (probe->Peek() == '{') {
        return Cut{closeAt + 1, at + 1};
      }
    }
    last = beforeLast = 0;
  }
  return {};
}

}  // namespace

std::unique_ptr<SecondReader> SecondReader::start(const JsonSource& first, Read read) {
  const std::optional<Cut> cut = findCut(first);
  if (!cut) {
    return nullptr;
  }
  return startAt(first, cut->objectEnd, cut->lineStart, std::move(read));
}

std::unique_ptr<SecondReader> SecondReader::startAt(const JsonSource& first,
                                                    std::uint64_t handOverAt,
                                                    std::uint64_t lineStart, Read read) {
  std::unique_ptr<JsonSource> source = first.readerFrom(lineStart, '[');
  if (!source) {
    return nullptr;
  }
  std::unique_ptr<SecondReader> reader(new SecondReader(std::move(source), handOverAt));
  // Room for the second part at once, rather than grown and copied: a
  // script is about an eighth of its JSON form as dump lays it out.
  const std::uint64_t size = first.sizeToReadAgain();
  reader->part_.script.reserve(static_cast<std::size_t>(
      std::min((size > lineStart ? size - lineStart : 0) / 6, std::uint64_t{1} << 28)));
  // Started last, with every member in place; an exception is kept for
  // finish(), since none may leave a thread.
  SecondReader* self = reader.get();
  self->thread_ = std::thread([self, read = std::move(read)] {
    try {
      read(self->part_, self->stop_);
    } catch (...) {
      self->thrown_ = std::current_exception();
    }
  });
  return reader;
}

SecondReader::SecondReader(std::unique_ptr<JsonSource> source, std::uint64_t handOverAt)
    : handOverAt_(handOverAt) {
  part_.source = std::move(source);
}

SecondReader::~SecondReader() {
  stop_ = true;
  join();
}

void SecondReader::join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

SecondPart& SecondReader::finish() {
  join();
  if (thrown_) {
    std::rethrow_exception(std::exchange(thrown_, nullptr));
  }
  return part_;
}

}  // namespace krlist
