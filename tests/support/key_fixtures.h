// Committed key material (made by keytool) so tests never search for primes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "keygen.h"

namespace qovra_test {

inline std::string FixturePath(const std::string& name) {
  return std::string(QOVRA_FIXTURES) + "/" + name;
}

inline keytool::KeyPair LoadKeyPair(const std::string& name) {
  keytool::KeyPair kp;
  keytool::Bytes pub, prk;
  std::string err;
  EXPECT_TRUE(keytool::ReadFile(FixturePath("keys/" + name + ".pub"), &pub, &err)) << err;
  EXPECT_TRUE(keytool::ReadFile(FixturePath("keys/" + name + ".prk"), &prk, &err)) << err;
  EXPECT_EQ(pub.size(), kp.pub.size());
  EXPECT_EQ(prk.size(), kp.priv.size());
  if (pub.size() == kp.pub.size()) std::copy(pub.begin(), pub.end(), kp.pub.begin());
  if (prk.size() == kp.priv.size()) std::copy(prk.begin(), prk.end(), kp.priv.begin());
  return kp;
}

}  // namespace qovra_test
