#include "listing/ListingPrinter.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "format/NameIndex.h"
#include "format/OpcodeTable.h"

namespace krlist {

namespace {

constexpr std::uint8_t kBlankLineBefore = 0x02;
constexpr std::uint8_t kBlankLineAfter = 0x04;

// Instructions formatted as one piece on one core, each piece starting where
// the listing can start a walk: about half a megabyte of text, which a
// worker's buffer holds whole unless its lines are long.
constexpr std::size_t kPieceInstructions = InstructionList::kCheckpointInterval;
constexpr std::size_t kPieceBuffer = std::size_t{1} << 21;

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Room for a whole line but the text of its string or its names: an empty
// line before it, "%08X:%02X  ", four data bytes as "%02X ", the longest
// operand, the end of the line.
constexpr std::size_t kLineRoom = 1 + 13 + 4 * 3 + kOperandRoom + 1;

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* putHexBytes(char* out, const std::uint8_t* bytes, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    out = TextOutput::putHexByte(out, bytes[i]);
  }
  return out;
}

// Floats are stored as little-endian IEEE 754 singles.
char* putFloat(char* out, const std::uint8_t* bytes) {
  return TextOutput::putFloat(out, std::bit_cast<float>(littleEndianWord(bytes)));
}

// The floats of a pair or triple, after their raw bytes: " :: a, b" or
// " :: a, b, c".
char* putFloats(char* out, const std::uint8_t* bytes, int count) {
  out = put(out, " :: ");
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      out = put(out, ", ");
    }
    out = putFloat(out, bytes + 4 * i);
  }
  return out;
}

}  // namespace

char* putOperand(char* out, const Instruction& instruction) {
  switch (instruction.kind()) {
    case OperandKind::None:
    case OperandKind::String:
      break;
    case OperandKind::WordList:
      out = putHexBytes(put(out, ":: "), instruction.extra(), instruction.extraLength);
      break;
    case OperandKind::FloatPair:
      out = putFloats(putHexBytes(out, instruction.extra(), instruction.extraLength),
                      instruction.extra(), 2);
      break;
    case OperandKind::FloatTriple:
      out = putFloats(putHexBytes(out, instruction.extra(), instruction.extraLength),
                      instruction.extra(), 3);
      break;
  }
  switch (kOpcodeTable[instruction.opcode()].meaning) {
    case DataMeaning::Integer:
      out = std::to_chars(put(out, ":: "), out + kOperandRoom,
                          static_cast<std::int32_t>(littleEndianWord(instruction.data())))
                .ptr;
      break;
    case DataMeaning::Float:
      out = putFloat(put(out, ":: "), instruction.data());
      break;
    case DataMeaning::Bytes:
    case DataMeaning::NameKey:
      break;
  }
  return out;
}

namespace {

// Writes the lines of the instructions from `from` up to `to`, stopping
// early after the first line that leaves `out` holding `enough` characters or
// more; returns where it stopped.
//
// Each line but the text of its string or names is formatted in place with
// a cursor, checking for room once: the cursor stays in a register where
// the output's own fields could not, as any character written might alias
// them.
InstructionList::const_iterator printLines(InstructionList::const_iterator from,
                                           InstructionList::const_iterator to,
                                           const NameIndex& names, TextOutput& out,
                                           std::size_t enough = SIZE_MAX) {
  while (from != to) {
    // Once standard output has failed (a reader that went away) nothing more
    // can be written: stop formatting.
    if (out.failed()) {
      return to;
    }
    const Instruction instruction = *from;
    ++from;
    const std::uint8_t opcode = instruction.opcode();
    char* line = out.reserve(kLineRoom);
    if (opcode == kBlankLineBefore) {
      *line++ = '\n';
    }
    line = TextOutput::putHexOffset(line, instruction.listingOffset());
    *line++ = ':';
    line = TextOutput::putHexByte(line, opcode);
    line = put(line, "  ");
    for (std::int32_t i = 0; i < instruction.dataLength; ++i) {
      line = TextOutput::putHexByte(line, instruction.dataByte(i));
      *line++ = ' ';
    }
    if (instruction.kind() == OperandKind::String) {
      out.commit(put(line, ":: "));
      out.write(instruction.textView());
      line = out.reserve(kLineRoom);
    } else {
      line = putOperand(line, instruction);
    }
    if (opcode == kBlankLineAfter) {
      *line++ = '\n';
    } else if (opcode == kNameReference) {
      // Every definition of the key, in listing order: a name may be
      // defined after it is used, or more than once.
      out.commit(line);
      out.write(names.referenceText(instruction.data()));
      line = out.reserve(1);
    }
    *line++ = '\n';
    out.commit(line);
    if (out.text().size() >= enough) {
      break;
    }
  }
  return from;
}

// Whose turn it is to write: pieces are written in order, each by the
// worker that formatted it.
class Turns {
 public:
  // Waits until `piece` may be written; false when the run is stopping.
  bool waitFor(std::size_t piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || next_ == piece; });
    return !stopping_;
  }
  // `piece` is written whole: the next may follow.
  void done(std::size_t piece) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ = piece + 1;
    changed_.notify_all();
  }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;
  bool stopping_ = false;
};

}  // namespace

void printListing(const InstructionList& listing, TextOutput& out) {
  const NameIndex names(listing);

  // Formatting takes most of a run, and every line depends only on its own
  // instruction and the names: two workers, this thread and one more, take
  // every other piece of the listing, format it into a buffer of their own
  // and, when its turn comes, write it out. A worker whose buffer fills
  // before its turn waits for it, writes what it has and goes on, so that
  // memory stays a few buffers (and at most one line beyond) whatever a
  // piece prints.
  constexpr std::size_t kWorkers = 2;
  const std::size_t pieces = (listing.size() + kPieceInstructions - 1) / kPieceInstructions;
  Turns turns;
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto work = [&](std::size_t first) {
    try {
      TextOutput buffer(nullptr);
      for (std::size_t piece = first; piece < pieces; piece += kWorkers) {
        const std::size_t begin = piece * kPieceInstructions;
        InstructionList::const_iterator from = listing.at(begin);
        const InstructionList::const_iterator to =
            listing.at(std::min(begin + kPieceInstructions, listing.size()));
        do {
          from = printLines(from, to, names, buffer, kPieceBuffer);
          if (!turns.waitFor(piece)) {
            return;
          }
          out.write(buffer.text());
          buffer.clear();
          if (out.failed()) {
            turns.stop();
            return;
          }
        } while (from != to);
        turns.done(piece);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      failure = std::current_exception();
      turns.stop();
    }
  };
  std::thread helper;
  if (pieces >= 2 && std::thread::hardware_concurrency() >= 2) {
    try {
      helper = std::thread(work, 1);
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): one core does it all.
    }
  }
  if (!helper.joinable()) {
    printLines(listing.begin(), listing.end(), names, out);
    return;
  }
  work(0);
  helper.join();
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace krlist
