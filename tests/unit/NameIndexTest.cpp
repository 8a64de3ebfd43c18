#include "format/NameIndex.h"

#include "format/ScriptDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace krlist {
namespace {

// Many definitions over few keys, some repeated, some never defined: the
// index must give exactly what a scan of the whole listing gives, in order,
// and print them as a reference does.
TEST(NameIndexTest, AgreesWithAScanOfTheWholeListing) {
  std::mt19937 random(7);
  std::string bytes;
  for (int i = 0; i < 5000; ++i) {
    const bool reference = random() % 3 != 0 && random() % 2 == 0;
    bytes += static_cast<char>(reference ? 0x16 : (random() % 2 == 0 ? 0x2B : 0x1B));
    bytes += {static_cast<char>(random() % 40), 0, static_cast<char>(random() % 2), 0};
    if (!reference) {
      bytes += "name" + std::to_string(i);
      bytes += '\0';
    }
  }
  ScriptBytes script;
  script.view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ScriptDecoder decoder;
  ASSERT_TRUE(decoder.decode(script).complete());
  const InstructionList& listing = decoder.instructions();

  const NameIndex index(listing);
  for (int keyByte = 0; keyByte < 42; ++keyByte) {
    for (std::uint8_t high : {0, 1}) {
      const std::uint8_t key[4] = {static_cast<std::uint8_t>(keyByte), 0, high, 0};
      std::vector<std::string> scanned;
      for (const Instruction& instruction : listing) {
        if (instruction.opcode() == 0x2B && std::memcmp(instruction.data(), key, 4) == 0) {
          scanned.emplace_back(instruction.text());
        }
      }
      std::vector<std::string> indexed;
      for (std::string_view name : index.namesFor(key)) {
        indexed.emplace_back(name);
      }
      EXPECT_EQ(indexed, scanned) << "key " << keyByte << " " << int{high};
      std::string printed;
      for (const std::string& name : scanned) {
        printed += "-> " + name;
      }
      EXPECT_EQ(index.referenceText(key), printed) << "key " << keyByte << " " << int{high};
    }
  }
}

// Multiples of a table's bucket count all share one bucket under the identity
// hash; a script made of them would make every lookup a walk through them all.
TEST(NameIndexTest, KeysChosenToCollideSpreadOverBuckets) {
  constexpr std::uint32_t kBuckets = 20753;
  for (std::uint64_t seed : {0ull, 1ull, 0x9E3779B97F4A7C15ull}) {
    const NameIndex::KeyHash hash{seed};
    std::vector<int> perBucket(kBuckets);
    int fullest = 0;
    for (std::uint32_t i = 0; i < 20000; ++i) {
      fullest = std::max(fullest, ++perBucket[hash(i * kBuckets) % kBuckets]);
    }
    EXPECT_LT(fullest, 10) << "seed " << seed;
  }
}

}  // namespace
}  // namespace krlist
