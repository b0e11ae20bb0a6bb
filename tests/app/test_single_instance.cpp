// The single-instance guard across processes: a second copy brings the
// first forward and ends; a killed first copy never blocks a restart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <string>

#include "app/app_test_support.h"
#include "base/messages.h"
#include "platform/single_instance.h"
#include "seam/fake_ui.h"
#include "single_instance_guard.h"

namespace qovra::app {
namespace {

using qovra::testing::ScratchDir;
using Outcome = TSingleInstanceGuard::Outcome;

// One run of the probe program (a copy of the program reduced to its guard).
class Probe {
 public:
  explicit Probe(const std::string& folder) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(QOVRA_PROBE), {QString::fromStdString(folder)});
  }
  ~Probe() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // Waits until the probe printed line; false after timeout_ms.
  bool WaitLine(const QString& line, int timeout_ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
      output_ += QString::fromUtf8(process_.readAllStandardOutput());
      if (output_.split(QLatin1Char('\n')).contains(line)) return true;
      if (clock.elapsed() > timeout_ms) return false;
      if (!process_.waitForReadyRead(100) && process_.state() == QProcess::NotRunning) {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_.split(QLatin1Char('\n')).contains(line);
      }
    }
  }
  // Waits for the end; the exit code, or -1 when it did not end in time.
  int Finish(int timeout_ms = 10000) {
    if (!process_.waitForFinished(timeout_ms)) return -1;
    output_ += QString::fromUtf8(process_.readAllStandardOutput());
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  void KillHard() {
    process_.kill();  // SIGKILL: no clean-up of any kind
    process_.waitForFinished(5000);
  }
  const QString& Output() const { return output_; }

 private:
  QProcess process_;
  QString output_;
};

std::string PrivateFolder(const ScratchDir& dir) {
  const std::string folder = dir.File("run");
  std::filesystem::create_directories(folder);
  chmod(folder.c_str(), 0700);
  return folder + "/";
}

TEST(SingleInstance, SecondCopyBringsTheFirstForwardAndEnds) {
  ScratchDir dir;
  const std::string folder = PrivateFolder(dir);
  Probe first(folder);
  ASSERT_TRUE(first.WaitLine("only")) << first.Output().toStdString();
  for (int n = 1; n <= 2; ++n) {
    Probe second(folder);
    EXPECT_EQ(second.Finish(), 0);
    EXPECT_EQ(second.Output(), QStringLiteral("another\n"));
    EXPECT_TRUE(first.WaitLine(QStringLiteral("activated %1").arg(n)))
        << first.Output().toStdString();
  }
}

TEST(SingleInstance, KilledCopyLeavesAStaleSocketThatDoesNotBlockARestart) {
  ScratchDir dir;
  const std::string folder = PrivateFolder(dir);
  {
    Probe first(folder);
    ASSERT_TRUE(first.WaitLine("only"));
    first.KillHard();
  }
  ASSERT_TRUE(qovra::testing::Exists(InstanceSocketPath(folder))) << "the socket file stays";
  Probe restarted(folder);
  ASSERT_TRUE(restarted.WaitLine("only")) << restarted.Output().toStdString();
  Probe second(folder);
  EXPECT_EQ(second.Finish(), 0);
  EXPECT_EQ(second.Output(), QStringLiteral("another\n"));
  EXPECT_TRUE(restarted.WaitLine("activated 1")) << "the new socket serves";
}

TEST(SingleInstance, ActivationRestoresAndRaisesThisCopysWindows) {
  ScratchDir dir;
  const std::string folder = PrivateFolder(dir);
  TSingleInstanceGuard guard;
  ASSERT_EQ(guard.Check(folder), Outcome::OnlyCopy);
  QMainWindow main_window;
  main_window.show();
  main_window.showMinimized();
  ASSERT_TRUE(main_window.isMinimized());

  Probe second(folder);
  EXPECT_EQ(second.Finish(), 0);
  EXPECT_EQ(second.Output(), QStringLiteral("another\n"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return guard.ActivationCount() == 1; }, 5000));
  EXPECT_FALSE(main_window.isMinimized());

  // With a modal window open (the login window), that one comes forward.
  QDialog login;
  login.setModal(true);
  login.show();
  QWidget other;
  other.show();
  other.activateWindow();
  Probe third(folder);
  EXPECT_EQ(third.Finish(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return guard.ActivationCount() == 2; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &login; }, 2000));
}

TEST(SingleInstance, OnlyTheActivationLineCounts) {
  ScratchDir dir;
  const std::string folder = PrivateFolder(dir);
  TSingleInstanceGuard guard;
  ASSERT_EQ(guard.Check(folder), Outcome::OnlyCopy);
  for (const QByteArray& bytes : {QByteArray("hello\n"), QByteArray("activate"),
                                  QByteArray(200, 'a'), QByteArray("activate now\n")}) {
    QLocalSocket socket;
    socket.connectToServer(guard.SocketPath());
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    socket.waitForBytesWritten(1000);
    QTest::qWait(50);
    socket.abort();
  }
  QTest::qWait(100);
  EXPECT_EQ(guard.ActivationCount(), 0);
  EXPECT_TRUE(SendActivation(guard.SocketPath(), 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return guard.ActivationCount() == 1; }, 5000));
}

TEST(SingleInstance, GuardFailuresAreShownAndEndTheProgram) {
  ScratchDir dir;
  qovra::testing::ScopedFakeUi ui;
  {
    TSingleInstanceGuard guard;
    EXPECT_FALSE(CheckSingleInstance(guard, dir.File("missing") + "/"));
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].text, qovra::GetMsg("msgInstanceLockError"));
  }
  // A socket path too long for the system: the lock was ours, the socket
  // cannot be made; the lock is given back.
  const std::string deep = dir.File(std::string(120, 'd'));
  std::filesystem::create_directories(deep);
  {
    TSingleInstanceGuard guard;
    EXPECT_FALSE(CheckSingleInstance(guard, deep + "/"));
    ASSERT_EQ(ui->messages.size(), 2u);
    EXPECT_EQ(ui->messages[1].text, qovra::GetMsg("msgInstanceListenError"));
    TInstanceLock lock;
    EXPECT_EQ(lock.Acquire(deep + "/"), TInstanceLock::Result::Acquired);
  }
}

}  // namespace
}  // namespace qovra::app
