#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "io/Problem.h"
#include "io/TextOutput.h"
#include "json/JsonSource.h"

namespace krlist {

// A large document is read on two cores. A second reader takes the code
// from a line near the middle of the file and makes its part of the script
// on its own; the first reads up to that line, takes the second part over,
// and reads on from where the second reader stopped, at the "]" that ends
// the code. The second reader reads the same bytes in the same state as one
// reader would, so it finds the same script and the same first problem.

// What the second reader made of the code from the cut on.
struct SecondPart {
  // The document from the cut's line, with a "[" before it that stands for
  // the text before the cut.
  std::unique_ptr<JsonSource> source;
  TextOutput script{nullptr};
  std::optional<Problem> problem;  // its line counted from the cut's
  JsonPlace codeEnd;               // the "]" where it stopped
  std::uint64_t lastValue = 0;     // where its last string or number started
};

// The second reader's thread and what it makes. It is joined before it is
// gone, whichever way the first reader ends: by finish() when the first
// reader comes to the cut, or by the destructor, which first asks it to stop,
// when the first reader stops before the cut (a problem, or an exception).
class SecondReader {
 public:
  // Reads the code of `part.source` into `part`, and ends early once `stop`
  // is set. Runs on the second reader's thread.
  using Read = std::function<void(SecondPart& part, const std::atomic<bool>& stop)>;

  // A second reader for the document `first` reads, which stands in its
  // code, when the document is large, can be read again, and has a line to
  // cut at near its middle; otherwise nothing, and one reader reads it all.
  [[nodiscard]] static std::unique_ptr<SecondReader> start(const JsonSource& first, Read read);

  SecondReader(const SecondReader&) = delete;
  SecondReader& operator=(const SecondReader&) = delete;
  ~SecondReader();

  // Just after the "}" of the last instruction before the cut: once the
  // first reader has read to here, the script goes on with the second part.
  std::uint64_t handOverAt() const { return handOverAt_; }

  // Waits for the second reader to end and gives what it made; what it threw
  // (running out of memory) is thrown here instead.
  SecondPart& finish();

  // A second reader from the line at `lineStart` of `first`'s document,
  // handing over at `handOverAt`; nothing when the document cannot be read
  // again from there. For start(), and for tests that choose their own cut.
  [[nodiscard]] static std::unique_ptr<SecondReader> startAt(const JsonSource& first,
                                                             std::uint64_t handOverAt,
                                                             std::uint64_t lineStart, Read read);

 private:
  SecondReader(std::unique_ptr<JsonSource> source, std::uint64_t handOverAt);
  void join();

  std::uint64_t handOverAt_;
  SecondPart part_;
  std::atomic<bool> stop_ = false;
  std::exception_ptr thrown_;
  std::thread thread_;
};

}  // namespace krlist
