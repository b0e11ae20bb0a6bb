// A world (servers, key material) shared by the tests of one suite: made in
// SetUpTestSuite, checked in SetUp, dropped in TearDownTestSuite.
#pragma once

#include <memory>

namespace qovra_test {

// A new World whose Make() succeeded; null when it failed.
template <typename World>
std::unique_ptr<World> MakeWorld() {
  auto world = std::make_unique<World>();
  if (!world->Make()) world.reset();
  return world;
}

}  // namespace qovra_test
