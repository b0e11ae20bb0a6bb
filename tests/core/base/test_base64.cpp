#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"

namespace qovra {
namespace {

// RFC 4648, section 10.
struct Vector {
  const char* plain;
  const char* coded;
} const kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, Rfc4648Vectors) {
  for (const auto& v : kRfc4648) {
    EXPECT_EQ(Base64Encode(v.plain), v.coded);
    EXPECT_EQ(Base64EncodeStr(v.plain), v.coded);
    EXPECT_EQ(Base64Decode(v.coded), v.plain);
    EXPECT_EQ(Base64DecodeStr(v.coded), v.plain);
  }
}

TEST(Base64, AllByteValuesRoundTrip) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t n = 0; n <= bytes.size(); n += 37) {
    const std::string part = bytes.substr(0, n);
    EXPECT_EQ(Base64Decode(Base64Encode(part)), part);
  }
}

TEST(Base64, DecodeRefusesMalformedText) {
  for (const char* bad : {
           "Zm9",         // length not a multiple of 4
           "Zm9v!A==",    // character outside the alphabet
           "Zm 9v",       // blank
           "Zm9v\nYmFy",  // line break
           "=m9v",        // padding first
           "Z=9v",        // padding second
           "Zm=v",        // padding third without fourth
           "Zg==Zm9v",    // padding before the last group
           "Zm9vYmFy====",
           "Zm9-",  // URL-safe alphabet is not ours
       }) {
    EXPECT_EQ(Base64Decode(bad), "") << bad;
  }
}

TEST(Base64, SecondDecoderIgnoresShortRestButStillRefusesBadCharacters) {
  EXPECT_EQ(Base64DecodeStr("Zm9vYg"), "foo");  // "Yg" is a short rest
  EXPECT_EQ(Base64DecodeStr("Zg="), "");        // only a rest
  EXPECT_EQ(Base64Decode("Zm9vYg"), "");        // the first decoder refuses it
  EXPECT_EQ(Base64DecodeStr("Zm9*Yg=="), "");
  EXPECT_EQ(Base64DecodeStr("Zg==Zm9v"), "");
}

}  // namespace
}  // namespace qovra
