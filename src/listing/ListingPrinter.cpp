#include "listing/ListingPrinter.h"

#include <bit>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "decode/OpcodeTable.h"
#include "listing/NameIndex.h"

namespace krlist {

namespace {

constexpr std::uint8_t kBlankLineBefore = 0x02;
constexpr std::uint8_t kBlankLineAfter = 0x04;
constexpr std::uint8_t kInteger = 0x17;
constexpr std::uint8_t kFloat = 0x1A;

// Records formatted as one piece on one core: a few megabytes of text.
constexpr std::size_t kPieceRecords = std::size_t{1} << 16;

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Floats are stored as IEEE 754 singles and printed widened to double.
double littleEndianFloat(const std::uint8_t* bytes) {
  return static_cast<double>(std::bit_cast<float>(littleEndianWord(bytes)));
}

void writeHexBytes(TextOutput& out, const std::uint8_t* bytes, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    out.writeHexByte(bytes[i]);
  }
}

// The floats of a pair or triple, after their raw bytes: " :: a, b" or
// " :: a, b, c".
void writeFloats(TextOutput& out, const std::uint8_t* bytes, int count) {
  out.write(" :: ");
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      out.write(", ");
    }
    out.writeFixed(littleEndianFloat(bytes + 4 * i));
  }
}

void writeOperand(TextOutput& out, const Instruction& instruction) {
  switch (instruction.kind()) {
    case OperandKind::None:
      break;
    case OperandKind::String:
      out.write(":: ");
      out.write(instruction.text());
      break;
    case OperandKind::WordList:
      out.write(":: ");
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      break;
    case OperandKind::FloatPair:
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      writeFloats(out, instruction.extra(), 2);
      break;
    case OperandKind::FloatTriple:
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      writeFloats(out, instruction.extra(), 3);
      break;
  }
}

// Writes the lines of the records from `from` to `to`.
void printRecords(Listing::const_iterator from, Listing::const_iterator to, const NameIndex& names,
                  TextOutput& out) {
  for (; from != to; ++from) {
    const Instruction instruction = *from;
    // Once standard output has failed (a reader that went away) nothing more
    // can be written: stop formatting.
    if (out.failed()) {
      return;
    }
    const std::uint8_t opcode = instruction.opcode();
    if (opcode == kBlankLineBefore) {
      out.write('\n');
    }
    // "%08X:%02X  " and "%02X " per data byte, formatted in place.
    char* head = out.reserve(8 + 1 + 2 + 2 + 3 * static_cast<std::size_t>(instruction.dataLength));
    head = TextOutput::putHexOffset(head, instruction.offset());
    *head++ = ':';
    head = TextOutput::putHexByte(head, opcode);
    *head++ = ' ';
    *head++ = ' ';
    for (std::int32_t i = 0; i < instruction.dataLength; ++i) {
      head = TextOutput::putHexByte(head, instruction.dataByte(i));
      *head++ = ' ';
    }
    out.commit(head);
    writeOperand(out, instruction);
    switch (opcode) {
      case kBlankLineAfter:
        out.write('\n');
        break;
      case kNameReference:
        // Every definition of the key, in listing order: a name may be
        // defined after it is used, or more than once.
        for (std::string_view name : names.namesFor(instruction.data())) {
          out.write("-> ");
          out.write(name);
          if (out.failed()) {
            return;
          }
        }
        break;
      case kInteger:
        out.write(":: ");
        out.writeDecimal(static_cast<std::int32_t>(littleEndianWord(instruction.data())));
        break;
      case kFloat:
        out.write(":: ");
        out.writeFixed(littleEndianFloat(instruction.data()));
        break;
      default:
        break;
    }
    out.write('\n');
  }
}

}  // namespace

void printListing(const Listing& listing, TextOutput& out) {
  const NameIndex names(listing);
  const std::size_t pieces = (listing.size() + kPieceRecords - 1) / kPieceRecords;
  if (pieces < 2 || std::thread::hardware_concurrency() < 2) {
    printRecords(listing.begin(), listing.end(), names, out);
    return;
  }

  // Formatting takes most of a run, and every line depends only on its own
  // record and the names: pieces of the listing are formatted on two cores,
  // each into a slot of its own, and written out in order from here. A
  // worker waits while its next slot still holds a piece not yet written,
  // so that memory stays a few pieces whatever the listing's length.
  constexpr std::size_t kWorkers = 2;
  constexpr std::size_t kSlots = 2 * kWorkers;
  struct Slot {
    TextOutput text{nullptr};
    std::size_t piece = SIZE_MAX;  // the piece it holds, formatted; SIZE_MAX while free
  };
  std::vector<Slot> slots(kSlots);
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::exception_ptr failure;

  auto work = [&](std::size_t first) {
    try {
      for (std::size_t piece = first; piece < pieces; piece += kWorkers) {
        Slot& slot = slots[piece % kSlots];
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] { return stopping || slot.piece == SIZE_MAX; });
          if (stopping) {
            return;
          }
        }
        slot.text.clear();
        const std::size_t begin = piece * kPieceRecords;
        printRecords(listing.at(begin), listing.at(std::min(begin + kPieceRecords, listing.size())),
                     names, slot.text);
        std::lock_guard<std::mutex> lock(mutex);
        slot.piece = piece;
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      failure = std::current_exception();
      stopping = true;
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t first = 0; first < kWorkers; ++first) {
    workers.emplace_back(work, first);
  }
  for (std::size_t piece = 0; piece < pieces; ++piece) {
    Slot& slot = slots[piece % kSlots];
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return stopping || slot.piece == piece; });
      if (stopping) {
        break;
      }
    }
    out.write(slot.text.text());
    std::lock_guard<std::mutex> lock(mutex);
    slot.piece = SIZE_MAX;
    stopping = out.failed();
    changed.notify_all();
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace krlist
