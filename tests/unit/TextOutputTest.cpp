#include "io/TextOutput.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace krlist {
namespace {

std::string printfFixed(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

std::string fixed(float value) {
  char text[TextOutput::kLongestFloat];
  return std::string(text, TextOutput::putFloat(text, value));
}

TEST(TextOutputTest, FloatsPrintAsPrintfDoes) {
  const float special[] = {0.0f,
                           -0.0f,
                           1.0f,
                           -1.5f,
                           0.1f,
                           1e-7f,
                           5e-7f,  // rounds at the sixth decimal
                           0.0000005f,
                           123456.789f,
                           std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::lowest(),
                           std::numeric_limits<float>::min(),
                           std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::bit_cast<float>(0x7FC00000u),   // quiet NaN
                           std::bit_cast<float>(0xFFC00000u),   // quiet NaN, sign set
                           std::bit_cast<float>(0x7F800001u),   // signalling NaN
                           std::bit_cast<float>(0xFF800001u)};  // signalling NaN, sign set
  for (float value : special) {
    EXPECT_EQ(fixed(value), printfFixed(value)) << std::bit_cast<std::uint32_t>(value);
  }
  EXPECT_EQ(fixed(-0.0f), "-0.000000");
  EXPECT_EQ(fixed(std::bit_cast<float>(0xFFC00000u)), "-nan");

  // Every exponent, many mantissas: values whose sixth decimal is a tie or
  // near one are where a shortcut would differ.
  std::mt19937 random(12345);
  for (int i = 0; i < 200000; ++i) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    ASSERT_EQ(fixed(value), printfFixed(value)) << std::bit_cast<std::uint32_t>(value);
  }
}

TEST(TextOutputTest, NumbersAndHexadecimal) {
  TextOutput out(nullptr);
  out.writeHexOffset(0x0012ABCFu);
  out.write(':');
  out.writeHexByte(0x0A);
  out.writeHexByte(0xF0);
  out.write(' ');
  out.writeDecimal(-2147483648LL);
  out.write(' ');
  out.writeDecimal(2147483647LL);
  EXPECT_EQ(out.text(), "0012ABCF:0AF0 -2147483648 2147483647");
}

TEST(TextOutputTest, FailedWriteIsReported) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) {
    GTEST_SKIP() << "no /dev/full here";
  }
  TextOutput out(full);
  out.write("listing line\n");
  EXPECT_FALSE(out.flush());
  EXPECT_TRUE(out.failed());
  out.write("more");
  EXPECT_FALSE(out.flush());
  std::fclose(full);
}

TEST(TextOutputTest, LargeTextKeepsItsOrder) {
  // Text longer than the buffer bypasses it; what was buffered goes first.
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  TextOutput out(file);
  const std::string big(3 << 20, 'b');
  out.write("head ");
  out.write(big);
  out.write(" tail");
  ASSERT_TRUE(out.flush());
  std::rewind(file);
  std::string read(big.size() + 10, '\0');
  read.resize(std::fread(read.data(), 1, read.size(), file));
  EXPECT_TRUE(read == "head " + big + " tail");
  std::fclose(file);
}

}  // namespace
}  // namespace krlist
