// Started programs: waiting, ending at shut-down, documents through the
// opener, and arguments passed unchanged.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/run_thread.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using namespace std::chrono_literals;
using qovra::testing::ScratchDir;
using Clock = std::chrono::steady_clock;

// True when pid is neither running nor a zombie of ours.
bool Gone(pid_t pid) {
  int status = 0;
  const bool unreaped = waitpid(pid, &status, WNOHANG) != -1 || errno != ECHILD;
  return !unreaped && kill(pid, 0) == -1 && errno == ESRCH;
}

bool WaitDone(const TRunThread& t, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!t.Done() && Clock::now() < end) std::this_thread::sleep_for(5ms);
  return t.Done();
}

// A program that writes its arguments, each ending with a zero byte, to out.
std::string Recorder(const ScratchDir& dir, const std::string& out) {
  const std::string path =
      dir.Write("record.sh", "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + out + "'\n");
  chmod(path.c_str(), 0700);
  return path;
}

std::vector<std::string> Recorded(const std::string& out) {
  const std::string bytes = ScratchDir::Read(out);
  std::vector<std::string> args;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') {
      args.push_back(bytes.substr(start, i - start));
      start = i + 1;
    }
  }
  return args;
}

TEST(RunThreadList, RunningProgramIsEndedAtShutDownAndReaped) {
  pid_t pid = -1;
  const auto start = Clock::now();
  {
    TRunThreadList list;
    const TRunThread& t = list.Run("sleep", {"30"});
    ASSERT_TRUE(t.Started());
    pid = t.Pid();
    EXPECT_FALSE(t.Done());
    EXPECT_EQ(kill(pid, 0), 0);
  }  // the list's end ends the program
  EXPECT_LT(Clock::now() - start, 900ms) << "SIGTERM should end sleep at once";
  EXPECT_TRUE(Gone(pid));
}

TEST(RunThreadList, ProgramIgnoringSigtermIsKilledAfterTheGrace) {
  TRunThreadList list("xdg-open", 200ms);
  const TRunThread& t = list.Run("sh", {"-c", "trap '' TERM; exec sleep 30"});
  const pid_t pid = t.Pid();
  std::this_thread::sleep_for(100ms);  // let the shell install its trap
  const auto start = Clock::now();
  list.EndAll();
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 150ms);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_TRUE(Gone(pid));

  TRunThread direct({"sh", "-c", "trap '' TERM; exec sleep 30"});
  std::this_thread::sleep_for(100ms);
  direct.End(100ms);
  ASSERT_TRUE(direct.Done());
  EXPECT_TRUE(WIFSIGNALED(direct.WaitStatus()));
  EXPECT_EQ(WTERMSIG(direct.WaitStatus()), SIGKILL);
}

TEST(RunThreadList, ProgramEndingByItselfIsReapedAndDroppedOnTheNextStart) {
  TRunThreadList list;
  const TRunThread& t = list.Run("sh", {"-c", "exit 3"});
  const pid_t pid = t.Pid();
  ASSERT_TRUE(WaitDone(t, 5s));
  EXPECT_TRUE(WIFEXITED(t.WaitStatus()));
  EXPECT_EQ(WEXITSTATUS(t.WaitStatus()), 3);
  EXPECT_TRUE(Gone(pid));
  EXPECT_EQ(list.Count(), 1u);
  const TRunThread& next = list.Run("sleep", {"30"});
  EXPECT_EQ(list.Count(), 1u) << "the ended entry is dropped";
  EXPECT_FALSE(next.Done());
}

TEST(RunThreadList, ProgramThatCannotStartIsDoneAtOnce) {
  ScratchDir dir;
  const std::string not_executable = dir.Write("plain.txt", "text");
  TRunThreadList list(dir.File("no-such-opener"));
  // An entry is valid only until the next start, so each is checked at once.
  for (const std::string& program :
       {std::string("/nonexistent/program"), not_executable, std::string()}) {
    const TRunThread& t = list.Run(program, {"x"});
    EXPECT_FALSE(t.Started()) << program;
    EXPECT_TRUE(t.Done()) << program;
    EXPECT_EQ(t.Pid(), -1) << program;
  }
  const TRunThread& doc = list.OpenDocument(not_executable);
  EXPECT_TRUE(doc.Done());
  list.EndAll();  // nothing to end, nothing hangs
}

TEST(RunThreadList, ArgumentsReachTheProgramUnchanged) {
  ScratchDir dir;
  const std::string out = dir.File("args.bin");
  const std::string marker = dir.File("pwned");
  const std::vector<std::string> params = {
      "/h12345",
      "file with blanks.cer",
      "\"double\" 'single'",
      "$(touch " + marker + ")",
      "`id`; rm -rf x",
      "",
      "*",
      "back\\slash",
      "tab\there",
      "line\nbreak",
  };
  TRunThreadList list;
  const TRunThread& t = list.Run(Recorder(dir, out), params);
  ASSERT_TRUE(WaitDone(t, 5s));
  EXPECT_EQ(Recorded(out), params);
  struct stat st {};
  EXPECT_NE(stat(marker.c_str(), &st), 0) << "no shell may have run the text";
}

TEST(RunThreadList, DocumentGoesToTheOpenerAloneAndItsEndEndsTheWait) {
  ScratchDir dir;
  const std::string out = dir.File("opened.bin");
  const std::string document = dir.Write("report $(x) 'q'.sh", "#!/bin/sh\ntouch should-not-run\n");
  chmod(document.c_str(), 0700);  // even an executable document is not run
  TRunThreadList list(Recorder(dir, out));
  const TRunThread& t = list.OpenDocument(document);
  ASSERT_TRUE(t.Started());
  ASSERT_TRUE(WaitDone(t, 5s)) << "the opener ends at once; so does the wait";
  EXPECT_EQ(Recorded(out), std::vector<std::string>{document});
  const auto start = Clock::now();
  list.EndAll();
  EXPECT_LT(Clock::now() - start, 500ms);
}

// How the opener ended reaches the caller: its exit status when it ends by
// itself, the signal when shut-down ended it, nothing when it never started.
TEST(RunThreadList, OpenersEndIsToldOnItsWaitingThread) {
  ScratchDir dir;
  const auto script = [&](const std::string& name, const std::string& body) {
    const std::string path = dir.Write(name, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0700);
    return path;
  };
  const struct {
    const char* what;
    std::string opener;
    bool end_all;  // ended by the list's shut-down
    int calls;
    int exit_code;  // -1: ended by SIGTERM
  } rows[] = {
      {"opened", script("ok.sh", "exit 0"), false, 1, 0},
      {"no program fits", script("none.sh", "exit 3"), false, 1, 3},
      {"action failed", script("failed.sh", "exit 4"), false, 1, 4},
      {"ended at shut-down", script("slow.sh", "exec sleep 30"), true, 1, -1},
      {"not started", dir.File("no-such-opener"), false, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::atomic<int> calls{0};
    std::atomic<int> status{0};
    std::atomic<bool> on_other_thread{false};
    const std::thread::id here = std::this_thread::get_id();
    TRunThreadList list(r.opener);
    const TRunThread& t = list.OpenDocument(dir.File("doc.txt"), [&](int wait_status) {
      status = wait_status;
      on_other_thread = std::this_thread::get_id() != here;
      ++calls;
    });
    if (r.end_all) {
      std::this_thread::sleep_for(50ms);
      list.EndAll();
    } else {
      ASSERT_TRUE(WaitDone(t, 5s));
    }
    EXPECT_EQ(calls.load(), r.calls);
    if (r.calls == 0) continue;
    EXPECT_TRUE(on_other_thread.load());
    if (r.exit_code < 0) {
      ASSERT_TRUE(WIFSIGNALED(status.load()));
      EXPECT_EQ(WTERMSIG(status.load()), SIGTERM);
    } else {
      ASSERT_TRUE(WIFEXITED(status.load()));
      EXPECT_EQ(WEXITSTATUS(status.load()), r.exit_code);
    }
  }
}

TEST(RunThreadList, ManyProgramsEndTogether) {
  std::vector<pid_t> pids;
  const auto start = Clock::now();
  {
    TRunThreadList list;
    for (int i = 0; i < 8; ++i) pids.push_back(list.Run("sleep", {"30"}).Pid());
    EXPECT_EQ(list.Count(), 8u);
  }
  EXPECT_LT(Clock::now() - start, 2s);
  for (pid_t pid : pids) EXPECT_TRUE(Gone(pid)) << pid;
}

}  // namespace
}  // namespace qovra
