#include "ScriptGenerator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>
#include <utility>

namespace krlist::bench {

namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t bits() { return engine_(); }
  // Uniform in [0, bound). The bounds used here are tiny next to 2^64, so the
  // bias of taking a remainder is far below anything a benchmark could feel.
  std::uint64_t below(std::uint64_t bound) { return engine_() % bound; }
  // Uniform in [low, high].
  std::int64_t between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low) + 1));
  }
  // Uniform in [0, 1), from the top 53 bits.
  double unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  bool chance(double probability) { return unit() < probability; }

  // Fisher-Yates, as std::shuffle's algorithm is not the same everywhere.
  template <typename T>
  void shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) {
      std::swap(items[i - 1], items[below(i)]);
    }
  }

 private:
  std::mt19937_64 engine_;
};

// Turns an index into a key that looks random. Each step (an exclusive or, a
// multiplication by an odd number, an exclusive or with a right shift) maps
// 32-bit words one to one, so distinct indexes give distinct keys without a
// set to check them against.
std::uint32_t keyFor(std::uint32_t index, std::uint32_t salt) {
  std::uint32_t key = index ^ salt;
  key *= 0x9E3779B1u;
  key ^= key >> 16;
  key *= 0x85EBCA6Bu;
  key ^= key >> 13;
  return key;
}

constexpr std::array<std::uint8_t, 16> kSingleByteOpcodes = {
    0x03, 0x04, 0x05, 0x06, 0x07, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x28, 0x2C, 0x2D, 0x30};

// Appends instructions, with random operands, to the bytes of a script.
class ScriptWriter {
 public:
  explicit ScriptWriter(std::uint64_t seed) : random_(seed) {}

  Random& random() { return random_; }
  std::size_t size() const { return bytes_.size(); }
  void reserve(std::size_t size) { bytes_.reserve(size); }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

  void reference(std::uint32_t key) {
    byte(0x16);
    word(key);
  }
  void definition(std::uint32_t key) {
    byte(0x2B);
    word(key);
    name();
  }
  void integer() {
    byte(0x17);
    randomWords(1);
  }
  void string() {
    byte(random_.chance(0.5) ? 0x1B : 0x1C);
    randomWords(1);
    for (auto length = random_.between(8, 80); length > 0; --length) {
      byte(static_cast<std::uint8_t>(random_.between(0x20, 0x7E)));
    }
    byte(0x00);
  }
  void singleFloat() {
    byte(0x1A);
    word(randomFloat());
  }
  void floatPair() {
    byte(0x1F);
    word(randomFloat());
    word(randomFloat());
  }
  void floatTriple() {
    byte(0x1E);
    word(randomFloat());
    word(randomFloat());
    word(randomFloat());
  }
  // The first data byte counts the words that follow; the other three are
  // zero.
  void wordList() {
    const auto count = random_.between(0, 8);
    byte(0x2F);
    word(static_cast<std::uint32_t>(count));
    randomWords(count);
  }
  void singleByte() { byte(kSingleByteOpcodes[random_.below(kSingleByteOpcodes.size())]); }
  void withData() {
    byte(random_.chance(0.5) ? 0x02 : 0x2E);
    randomWords(1);
  }

 private:
  void byte(std::uint8_t value) { bytes_.push_back(value); }
  // Little-endian, like every number in a script.
  void word(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
      byte(static_cast<std::uint8_t>(value >> shift));
    }
  }
  void randomWords(std::int64_t count) {
    for (; count > 0; --count) {
      word(static_cast<std::uint32_t>(random_.bits()));
    }
  }
  // 4 to 16 letters and the 0x00 that ends a string.
  void name() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (auto length = random_.between(4, 16); length > 0; --length) {
      byte(static_cast<std::uint8_t>(kLetters[random_.below(sizeof kLetters - 1)]));
    }
    byte(0x00);
  }
  // The bits of a single-precision float: mostly a finite value between
  // 2^-16 and 2^24 in size, either sign, and one time in a hundred an
  // infinity or a NaN, which the printer spells out.
  std::uint32_t randomFloat() {
    static constexpr std::array<std::uint32_t, 4> kNonFinite = {0x7F800000u, 0xFF800000u,
                                                                0x7FC00000u, 0xFFC00000u};
    if (random_.chance(0.01)) {
      return kNonFinite[random_.below(kNonFinite.size())];
    }
    const double value =
        (2 * random_.unit() - 1) * std::ldexp(1.0, static_cast<int>(random_.between(-16, 24)));
    return std::bit_cast<std::uint32_t>(static_cast<float>(value));
  }

  Random random_;
  std::vector<std::uint8_t> bytes_;
};

// The mixed script's instructions other than name definitions, in percent of
// their count.
enum class Kind {
  Integer,
  Reference,
  SingleByte,
  String,
  Float,
  FloatPair,
  FloatTriple,
  WordList,
  WithData
};
struct Share {
  Kind kind;
  int percent;
};
constexpr std::array<Share, 9> kMix = {{{Kind::Integer, 25},
                                        {Kind::Reference, 20},
                                        {Kind::SingleByte, 34},
                                        {Kind::String, 4},
                                        {Kind::Float, 2},
                                        {Kind::FloatPair, 4},
                                        {Kind::FloatTriple, 3},
                                        {Kind::WordList, 5},
                                        {Kind::WithData, 3}}};
static_assert(std::accumulate(kMix.begin(), kMix.end(), 0, [](int sum, const Share& share) {
                return sum + share.percent;
              }) == 100);

Kind drawKind(Random& random) {
  auto draw = static_cast<int>(random.below(100));
  for (const Share& share : kMix) {
    if (draw < share.percent) {
      return share.kind;
    }
    draw -= share.percent;
  }
  return kMix.back().kind;
}

// Keys of the mixed script: the first few are never defined, the next few
// twice, the rest once.
constexpr std::uint32_t kNameKeys = 4000;
constexpr std::uint32_t kUndefinedKeys = 40;
constexpr std::uint32_t kTwiceDefinedKeys = 40;

}  // namespace

std::vector<std::uint8_t> generateMixedScript(std::size_t size, std::uint64_t seed) {
  ScriptWriter script(seed);
  script.reserve(size + 1024);
  Random& random = script.random();
  const auto salt = static_cast<std::uint32_t>(random.bits());

  // Every definition is given a random offset, and is written as soon as the
  // script has grown past it.
  std::vector<std::uint32_t> definitions;
  for (std::uint32_t index = kUndefinedKeys; index < kNameKeys; ++index) {
    definitions.push_back(index);
    if (index < kUndefinedKeys + kTwiceDefinedKeys) {
      definitions.push_back(index);
    }
  }
  random.shuffle(definitions);
  std::vector<std::uint64_t> offsets(definitions.size());
  for (auto& offset : offsets) {
    offset = random.below(std::max<std::uint64_t>(size, 1));
  }
  std::sort(offsets.begin(), offsets.end());

  std::size_t nextDefinition = 0;
  auto writeDefinitionsDue = [&](std::uint64_t offset) {
    for (; nextDefinition < definitions.size() && offsets[nextDefinition] <= offset;
         ++nextDefinition) {
      script.definition(keyFor(definitions[nextDefinition], salt));
    }
  };
  while (script.size() < size) {
    writeDefinitionsDue(script.size());
    switch (drawKind(random)) {
      case Kind::Integer:
        script.integer();
        break;
      case Kind::Reference:
        script.reference(keyFor(static_cast<std::uint32_t>(random.below(kNameKeys)), salt));
        break;
      case Kind::SingleByte:
        script.singleByte();
        break;
      case Kind::String:
        script.string();
        break;
      case Kind::Float:
        script.singleFloat();
        break;
      case Kind::FloatPair:
        script.floatPair();
        break;
      case Kind::FloatTriple:
        script.floatTriple();
        break;
      case Kind::WordList:
        script.wordList();
        break;
      case Kind::WithData:
        script.withData();
        break;
    }
  }
  // The last instruction may have stepped over the offsets of a few.
  writeDefinitionsDue(UINT64_MAX);
  return script.take();
}

std::vector<std::uint8_t> generateDistinctNamesScript(std::size_t count, std::uint64_t seed) {
  if (static_cast<std::uint64_t>(count) > (std::uint64_t{1} << 32)) {
    throw std::invalid_argument("more names than there are 32-bit keys");
  }
  ScriptWriter script(seed);
  Random& random = script.random();
  const auto salt = static_cast<std::uint32_t>(random.bits());

  // Each key is referred to once and defined once, the two in unrelated
  // orders.
  std::vector<std::uint32_t> referred(count);
  std::iota(referred.begin(), referred.end(), std::uint32_t{0});
  std::vector<std::uint32_t> defined = referred;
  random.shuffle(referred);
  random.shuffle(defined);

  // Choosing a reference with the odds of references among what is left
  // makes every interleaving of the two sequences equally likely.
  std::size_t referencesLeft = count;
  std::size_t definitionsLeft = count;
  while (referencesLeft + definitionsLeft > 0) {
    if (random.below(referencesLeft + definitionsLeft) < referencesLeft) {
      script.reference(keyFor(referred[count - referencesLeft--], salt));
    } else {
      script.definition(keyFor(defined[count - definitionsLeft--], salt));
    }
  }
  return script.take();
}

}  // namespace krlist::bench
