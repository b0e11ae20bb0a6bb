// Outside programs started from the program and ended at shut-down.
//
// A program started through TRunThreadList runs beside the program: one
// thread per started process waits for its end (through a pidfd), so the
// interface thread never blocks. When the list ends (the program shuts
// down), the programs still running are ended: they show files from the
// temporary folder, which is emptied afterwards.
//
// Processes are started with an argument vector, never a shell line:
// blanks, quotes and "$(...)" in arguments reach the program unchanged.
//
// Two kinds of start:
// - Run: a program file (such as the certificate viewer) is started itself
//   with the given arguments and waited for.
// - OpenDocument: a document is handed to the desktop's opener (xdg-open).
//   The opener passes the file on and ends at once, and its end ends the
//   wait: the program that shows the document is not ours to end. A
//   document is never started as a program, whatever its mode bits.
//
// The list and every TRunThread are used on the interface thread only; the
// waiting threads touch nothing but their own entry and the end callback
// the caller gave (TRunEnd), which runs on the waiting thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qovra {

// Told a started program's wait status (as waitpid gives it) once it has
// ended and was reaped, on the waiting thread, before Done() turns true. A
// program ended by EndAll or End reports the signal that ended it.
using TRunEnd = std::function<void(int wait_status)>;

// One started program and the thread that waits for it.
class TRunThread {
 public:
  // Starts argv at once (argv[0] is searched in PATH when it has no "/")
  // and a thread that waits for its end, which then calls on_end when set.
  // When the program cannot be started, no thread is made, on_end is never
  // called and Done() is true at once.
  explicit TRunThread(const std::vector<std::string>& argv, TRunEnd on_end = {});
  // Ends the program when it still runs (as End with the default grace),
  // then waits for the thread.
  ~TRunThread();
  TRunThread(const TRunThread&) = delete;
  TRunThread& operator=(const TRunThread&) = delete;

  // Whether the program was started at all.
  bool Started() const { return pid_ > 0; }
  // Set once the program has ended and was reaped, or could not start.
  bool Done() const { return done_.load(); }
  // The started process; -1 when nothing started.
  pid_t Pid() const { return pid_; }
  // The wait status of the ended program (as waitpid gives it); meaningful
  // only once Done() and Started().
  int WaitStatus() const { return status_.load(); }

  // Sends sig to the program unless it has already been reaped; a program
  // that has just ended is never mistaken for another process.
  void Signal(int sig);
  // Waits up to timeout for the program to end; true when it has ended (or
  // never started).
  [[nodiscard]] bool WaitEnded(std::chrono::milliseconds timeout);
  // Asks the program to end (SIGTERM), waits up to grace and then kills it
  // (SIGKILL); returns after the program has been reaped.
  void End(std::chrono::milliseconds grace);

 private:
  void Execute();

  TRunEnd on_end_;
  pid_t pid_ = -1;
  int pidfd_ = -1;  // -1 when the kernel gave none: waitid without reaping is used instead
  std::atomic<bool> done_{false};
  std::atomic<int> status_{0};
  std::mutex reap_mutex_;  // orders the reaping against Signal
  bool reaped_ = false;    // guarded by reap_mutex_
  std::thread thread_;
};

// The started programs, in start order.
class TRunThreadList {
 public:
  static constexpr std::chrono::milliseconds kDefaultGrace{1000};

  // opener is the program that opens documents (xdg-open; tests pass a
  // substitute). grace is how long a program may take to end after SIGTERM
  // at shut-down before it is killed.
  explicit TRunThreadList(std::string opener = "xdg-open",
                          std::chrono::milliseconds grace = kDefaultGrace);
  // EndAll.
  ~TRunThreadList();
  TRunThreadList(const TRunThreadList&) = delete;
  TRunThreadList& operator=(const TRunThreadList&) = delete;

  // Starts program with params as its arguments and keeps it in the list.
  // Entries whose programs have ended are dropped first. The returned entry
  // belongs to the list and stays valid until the next Run, OpenDocument or
  // EndAll.
  const TRunThread& Run(const std::string& program, const std::vector<std::string>& params);
  // Starts the opener with file as its one argument, as Run does; on_end,
  // when set, is told how the opener ended (it exits non-zero when it
  // found no program for the file or that program failed to start).
  const TRunThread& OpenDocument(const std::string& file, TRunEnd on_end = {});

  // Ends every program still running: all are asked to end at once, those
  // still running after the grace are killed, then every entry is reaped
  // and dropped. The list stays usable.
  void EndAll();

  // Entries held (ended ones included until the next start drops them).
  size_t Count() const { return threads_.size(); }

 private:
  void DropEnded();

  std::string opener_;
  std::chrono::milliseconds grace_;
  std::vector<std::unique_ptr<TRunThread>> threads_;
};

// The program's list while the program runs (made by the main block before
// the login window, ended and freed at shut-down); null otherwise.
extern TRunThreadList* RunThreadList;

}  // namespace qovra
