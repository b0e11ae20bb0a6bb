#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "keys/random_text.h"

namespace qovra {
namespace {

// Hands out a fixed byte sequence and records how many bytes were asked for.
class ScriptedBytes : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRandomByteSource([this](uint8_t* out, size_t n) {
      requested_ += n;
      for (size_t k = 0; k < n; ++k) out[k] = next_ < script_.size() ? script_[next_++] : 0;
    });
  }
  void TearDown() override { SetRandomByteSource({}); }

  std::vector<uint8_t> script_;
  size_t next_ = 0;
  size_t requested_ = 0;
};

struct MappingCase {
  int kind;
  uint8_t byte;
  char expected;
};

// Each kind at both sides of both thresholds and at the ends of the byte
// range; expected characters worked out by hand from the kind's groups.
const MappingCase kMappingCases[] = {
    // kind 0: 55 / 155; "0" 10, "A" 26, "a" 26
    {0, 0, '0'},
    {0, 54, '4'},
    {0, 55, 'D'},
    {0, 154, 'Y'},
    {0, 155, 'z'},
    {0, 255, 'v'},
    // kind 1: 85 / 170; "0" 4, "3" 4, "6" 4
    {1, 0, '0'},
    {1, 84, '0'},
    {1, 85, '4'},
    {1, 169, '4'},
    {1, 170, '8'},
    {1, 255, '9'},
    // kind 2: "0" 5, "5" 5, "A" 6
    {2, 0, '0'},
    {2, 84, '4'},
    {2, 85, '5'},
    {2, 169, '9'},
    {2, 170, 'C'},
    {2, 255, 'D'},
    // kind 3: "A" 13, "a" 26, "N" 13
    {3, 0, 'A'},
    {3, 84, 'G'},
    {3, 85, 'h'},
    {3, 169, 'n'},
    {3, 170, 'O'},
    {3, 255, 'V'},
    // kind 4: "A" 13, "0" 10, "N" 13
    {4, 0, 'A'},
    {4, 84, 'G'},
    {4, 85, '5'},
    {4, 169, '9'},
    {4, 170, 'O'},
    {4, 255, 'V'},
    // kind 5 and any other: "A" 8, "I" 8, "Q" 10
    {5, 0, 'A'},
    {5, 84, 'E'},
    {5, 85, 'N'},
    {5, 169, 'J'},
    {5, 170, 'Q'},
    {5, 255, 'V'},
    {-1, 84, 'E'},
    {6, 85, 'N'},
    {99, 255, 'V'},
};

TEST_F(ScriptedBytes, RandomStringMapsEachByteAtEveryThreshold) {
  for (const MappingCase& c : kMappingCases) {
    script_ = {c.byte};
    next_ = 0;
    EXPECT_EQ(RandomString(1, c.kind), std::string(1, c.expected))
        << "kind " << c.kind << " byte " << int(c.byte);
  }
}

TEST_F(ScriptedBytes, RandomStringUsesOneBytePerCharacterInOrder) {
  script_ = {54, 55, 154, 155};
  EXPECT_EQ(RandomString(4, kRandomAlnum), "4DYz");
  EXPECT_EQ(requested_, 4u);
}

TEST_F(ScriptedBytes, CountZeroGivesEmptyText) {
  EXPECT_EQ(RandomString(0, kRandomAlnum), "");
  EXPECT_EQ(RandomHexString(0), "");
  EXPECT_EQ(requested_, 0u);
}

TEST_F(ScriptedBytes, HexStringIsUpperCaseDigitsOfTheBytes) {
  script_ = {0x00, 0xAB, 0xFF, 0x1c};
  EXPECT_EQ(RandomHexString(4), "00ABFF1C");
}

TEST_F(ScriptedBytes, HexToBufferWritesExactlyTwoCharactersPerByte) {
  script_ = {0x01, 0xEF, 0x7a};
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  RandomHexToBuffer(3, buffer);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "01EF7A##");
}

// Repeated application of x (+) y = (x + y + c*x*y) mod m, b - 1 times.
uint64_t RepeatedCircle(uint64_t a, unsigned b, uint64_t c, uint64_t m) {
  uint64_t r = a;
  for (unsigned k = 1; k < b; ++k) r = (r + a + c * r * a) % m;
  return r;
}

TEST(ModCirclePower, MatchesRepeatedOperation) {
  struct Row {
    uint32_t a;
    uint8_t b;
    uint8_t c;
    uint32_t m;
  };
  const Row rows[] = {
      {3, 2, 3, 257},       {3, 3, 3, 257},     {5, 4, 7, 257},    {200, 5, 9, 257},
      {255, 255, 255, 257}, {256, 128, 1, 257}, {1000, 6, 3, 257}, {12345, 77, 200, 65521},
      {7, 255, 0, 101},     {2, 16, 255, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ModCirclePower(row.a, row.b, row.c, row.m),
              RepeatedCircle(row.a, row.b, row.c, row.m))
        << row.a << " " << int(row.b) << " " << int(row.c) << " " << row.m;
  }
}

TEST(ModCirclePower, ZeroAndOneFoldPowers) {
  EXPECT_EQ(ModCirclePower(42, 0, 3, 257), 1u);
  // One-fold leaves a as it is, even above the modulus.
  EXPECT_EQ(ModCirclePower(1000, 1, 3, 257), 1000u);
}

TEST(CheckByte, KnownValues) {
  EXPECT_EQ(CheckByte(3, 3, 3), 76);
  EXPECT_EQ(CheckByte(0, 0, 0), 76);
  EXPECT_EQ(CheckByte(255, 255, 255), 206);
  // The power is 256 here, which the byte holds as 0.
  ASSERT_EQ(RepeatedCircle(4, 3, 92, 257), 256u);
  EXPECT_EQ(CheckByte(4, 3, 92), 0);
}

TEST(CheckByte, ExponentIsMovedToThreeModFour) {
  // b: 4 -> 3, 5 -> 3, 6 -> 7, 7 stays, 1 -> 3.
  const struct {
    uint8_t b;
    uint8_t exponent;
  } rows[] = {{1, 3}, {4, 3}, {5, 3}, {6, 7}, {7, 7}, {254, 255}, {252, 251}};
  for (const auto& row : rows) {
    EXPECT_EQ(CheckByte(10, row.b, 20),
              static_cast<uint8_t>(RepeatedCircle(10, row.exponent, 20, 257) & 0xFF))
        << int(row.b);
  }
}

TEST(RandomModule, DrawsFromTheGeneratorBetweenStartupAndShutdown) {
  RandomModuleScope scope;
  const std::string first = RandomHexString(16);
  const std::string second = RandomHexString(16);
  ASSERT_EQ(first.size(), 32u);
  EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace qovra
