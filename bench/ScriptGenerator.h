#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krlist::bench {

// Synthetic compiled scripts for measuring the decoder and the printer. Both
// kinds decode cleanly, and the same seed gives the same bytes on every
// system: the random numbers are drawn from std::mt19937_64 directly, not
// through the standard distributions, whose algorithms differ between
// standard libraries.

// A script of at least `size` bytes (it stops at the first instruction that
// reaches the size, plus whatever name definitions are still due) with a mix
// of instructions like that of a real one. By instruction count: a quarter
// integers, a fifth name references, a third single-byte opcodes, a few
// percent each of strings, floats, float pairs and triples, word lists and
// 0x02/0x2E. The references use a few thousand keys: most are defined exactly
// once by a name definition at a random point in the file, before or after
// their uses, a few twice and a few never, so a reference may resolve to one
// name, two or none.
std::vector<std::uint8_t> generateMixedScript(std::size_t size, std::uint64_t seed);

// `count` name references and `count` name definitions of `count` distinct
// keys, in random order: every reference resolves to exactly one definition,
// which may come before it or after it. Nothing else is in the script, so it
// weighs on name resolution alone. `count` is at most 2^32.
std::vector<std::uint8_t> generateDistinctNamesScript(std::size_t count, std::uint64_t seed);

}  // namespace krlist::bench
