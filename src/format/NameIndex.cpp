#include "format/NameIndex.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "format/OpcodeTable.h"

namespace krlist {

namespace {

std::uint32_t keyOf(const std::uint8_t* keyBytes) {
  std::uint32_t key;
  std::memcpy(&key, keyBytes, sizeof key);
  return key;
}

// A seed no script can know in advance: the time and where this run's stack
// lies.
std::uint64_t runSeed() {
  int local = 0;
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         reinterpret_cast<std::uintptr_t>(&local);
}

}  // namespace

std::size_t NameIndex::KeyHash::operator()(std::uint32_t key) const {
  // The finalizer of a well-known 64-bit mixer: every input bit affects every
  // output bit.
  std::uint64_t h = key ^ seed;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

NameIndex::NameIndex(const InstructionList& listing) : hash_{runSeed()}, slots_(16), mask_(15) {
  const std::size_t definitions = listing.definitionCount();
  // First count the definitions and the text of each key, then give each
  // key its slice of names_ and of text_, and fill the slices from their
  // ends, taking the definitions backwards so that each slice ends up in
  // listing order.
  constexpr std::string_view kArrow = "-> ";
  std::size_t keys = 0;
  for (std::size_t i = 0; i < definitions; ++i) {
    const Instruction definition = listing.definition(i);
    const std::uint32_t key = keyOf(definition.data());
    Slot& slot = slotFor(key);
    if (slot.count == 0) {
      slot.key = key;
      ++keys;
    }
    ++slot.count;
    slot.text += kArrow.size() + definition.textView().size();
    if (keys > slots_.size() / 2) {
      grow();
    }
  }
  std::size_t namesEnd = 0;
  std::size_t textEnd = 0;
  for (Slot& slot : slots_) {
    namesEnd += slot.count;
    slot.begin = namesEnd;
    textEnd += slot.text;
    slot.text = textEnd;
  }
  names_.resize(definitions);
  text_.resize(textEnd);
  for (std::size_t i = definitions; i-- > 0;) {
    const Instruction definition = listing.definition(i);
    const std::string_view name = definition.textView();
    Slot& slot = slotFor(keyOf(definition.data()));
    slot.text -= kArrow.size() + name.size();
    char* arrow = text_.data() + slot.text;
    kArrow.copy(arrow, kArrow.size());
    name.copy(arrow + kArrow.size(), name.size());
    names_[--slot.begin] = {arrow + kArrow.size(), name.size()};
  }
}

void NameIndex::grow() {
  std::vector<Slot> old(2 * slots_.size());
  old.swap(slots_);
  mask_ = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.count != 0) {
      slotFor(slot.key) = slot;
    }
  }
}

NameIndex::Slot& NameIndex::slotFor(std::uint32_t key) {
  return const_cast<Slot&>(std::as_const(*this).slotFor(key));
}

const NameIndex::Slot& NameIndex::slotFor(std::uint32_t key) const {
  for (std::size_t i = hash_(key) & mask_;; i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.count == 0 || slot.key == key) {
      return slot;
    }
  }
}

std::span<const std::string_view> NameIndex::namesFor(const std::uint8_t* keyBytes) const {
  const Slot& slot = slotFor(keyOf(keyBytes));
  return {names_.data() + slot.begin, slot.count};
}

std::string_view NameIndex::referenceText(const std::uint8_t* keyBytes) const {
  const Slot& slot = slotFor(keyOf(keyBytes));
  if (slot.count == 0) {
    return {};
  }
  const std::string_view last = names_[slot.begin + slot.count - 1];
  return {text_.data() + slot.text,
          static_cast<std::size_t>(last.data() + last.size() - (text_.data() + slot.text))};
}

}  // namespace krlist
