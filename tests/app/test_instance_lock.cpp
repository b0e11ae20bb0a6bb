// The single-instance lock: where it lives, that it is exclusive, and that
// started programs never inherit it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/app_test_support.h"
#include "platform/run_thread.h"
#include "platform/single_instance.h"

namespace qovra {
namespace {

namespace fs = std::filesystem;
using testing::ModeOf;
using testing::ScratchDir;

std::string Uid() {
  return std::to_string(getuid());
}

TEST(InstanceFolder, RuntimeFolderWhenItIsOursElseAPrivateFallback) {
  ScratchDir dir;
  const std::string runtime = dir.File("runtime");
  fs::create_directories(runtime);
  chmod(runtime.c_str(), 0700);
  const std::string open_runtime = dir.File("open");
  fs::create_directories(open_runtime);
  chmod(open_runtime.c_str(), 0777);
  fs::create_directory_symlink(runtime, dir.File("runtime-link"));
  const std::string root = dir.path() + "/";
  const std::string fallback = root + "SENTAVRO-" + Uid() + "/";

  EXPECT_EQ(InstanceFolder(runtime.c_str(), root), runtime + "/");
  EXPECT_EQ(InstanceFolder((runtime + "/").c_str(), root), runtime + "/");
  EXPECT_FALSE(testing::Exists(fallback));
  for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/run",
                               open_runtime.c_str(), "/no/such/folder"}) {
    SCOPED_TRACE(unusable ? unusable : "(unset)");
    EXPECT_EQ(InstanceFolder(unusable, root), fallback);
    EXPECT_EQ(ModeOf(fallback), 0700);
  }
  const std::string link = dir.File("runtime-link");
  EXPECT_EQ(InstanceFolder(link.c_str(), root), fallback) << "a link is not the runtime folder";
}

TEST(InstanceFolder, PlantedFallbackIsRefused) {
  ScratchDir dir;
  const std::string fallback = dir.File("SENTAVRO-" + Uid());
  const std::string root = dir.path() + "/";
  const std::string elsewhere = dir.File("elsewhere");
  fs::create_directories(elsewhere);
  chmod(elsewhere.c_str(), 0700);

  fs::create_directory_symlink(elsewhere, fallback);
  EXPECT_EQ(InstanceFolder(nullptr, root), "") << "link";
  fs::remove(fallback);

  fs::create_directories(fallback);
  chmod(fallback.c_str(), 0755);
  EXPECT_EQ(InstanceFolder(nullptr, root), "") << "open to others";
  fs::remove(fallback);

  dir.Write("SENTAVRO-" + Uid(), "file");
  EXPECT_EQ(InstanceFolder(nullptr, root), "") << "file";
  fs::remove(fallback);

  if (geteuid() == 0) {
    fs::create_directories(fallback);
    chmod(fallback.c_str(), 0700);
    ASSERT_EQ(chown(fallback.c_str(), 65534, 65534), 0);
    EXPECT_EQ(InstanceFolder(nullptr, root), "") << "another user's";
  }
}

TEST(InstanceLock, OneHolderAtATime) {
  ScratchDir dir;
  const std::string folder = dir.path() + "/";
  TInstanceLock first;
  TInstanceLock second;
  ASSERT_EQ(first.Acquire(folder), TInstanceLock::Result::Acquired);
  EXPECT_EQ(ModeOf(InstanceLockPath(folder)), 0600);
  EXPECT_EQ(InstanceLockPath(folder), folder + "SENTAVRO-" + Uid() + ".lock");
  EXPECT_EQ(InstanceSocketPath(folder), folder + "SENTAVRO-" + Uid() + ".sock");
  EXPECT_EQ(second.Acquire(folder), TInstanceLock::Result::HeldElsewhere);
  EXPECT_FALSE(second.Held());
  first.Release();
  EXPECT_EQ(second.Acquire(folder), TInstanceLock::Result::Acquired);
  EXPECT_EQ(first.Acquire(folder), TInstanceLock::Result::HeldElsewhere);
}

TEST(InstanceLock, UnusableLockFileFails) {
  ScratchDir dir;
  TInstanceLock lock;
  EXPECT_EQ(lock.Acquire(""), TInstanceLock::Result::Failed);
  EXPECT_EQ(lock.Acquire(dir.File("missing") + "/"), TInstanceLock::Result::Failed);
  const std::string folder = dir.path() + "/";
  dir.Write("target", "x");
  fs::create_symlink(dir.File("target"), InstanceLockPath(folder));
  EXPECT_EQ(lock.Acquire(folder), TInstanceLock::Result::Failed) << "never through a link";
  EXPECT_EQ(ScratchDir::Read(dir.File("target")), "x");
}

TEST(InstanceLock, StartedProgramsDoNotInheritIt) {
  ScratchDir dir;
  const std::string folder = dir.path() + "/";
  TRunThreadList programs;
  {
    TInstanceLock lock;
    ASSERT_EQ(lock.Acquire(folder), TInstanceLock::Result::Acquired);
    ASSERT_TRUE(programs.Run("sleep", {"30"}).Started());
  }
  // The program still runs; had it inherited the descriptor, it would still
  // hold the lock.
  TInstanceLock next;
  EXPECT_EQ(next.Acquire(folder), TInstanceLock::Result::Acquired);
}

}  // namespace
}  // namespace qovra
