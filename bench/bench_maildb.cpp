// Mail database at realistic size: saves 100,000 mails with 3 recipients
// each into a copy of the template, then counts the folders and unread
// mails and builds the pending-report list. Prints the time of each step.
//
//   bench_maildb [mail count (100000)]
//
// The first 1,000 mails are saved one transaction each (as receiving does);
// the rest inside outer transactions of 1,000 mails (as a bulk import
// would), so both costs show.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_mail_db.h"
#include "bench_peak_memory.h"
#include "keys/random_text.h"
#include "platform/temp_files.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

qovra::TMailMessage MakeMail(int i) {
  char uuid[33];
  std::snprintf(uuid, sizeof uuid, "%032X", i);
  qovra::TMailMessage m;
  m.Uuid = uuid;
  m.FromAddress = (i % 3 == 0) ? "alice@localhost" : "bob@other.uz";
  m.Subject = u"Benchmark mail with an ordinary subject line";
  m.FolderId = i % 5;
  m.Flags = static_cast<uint16_t>((i % 2 ? qovra::mfRead : 0) |
                                  (i % 10 == 0 ? qovra::mfSent | qovra::mfReadReport : 0));
  m.Ymbox = 1 + i % 50;
  m.SentTime = 45000.0 + i / 1000.0;
  m.MailSize = 10000 + i;
  m.Recipients.Add("r" + std::to_string(i % 97) + "@a.uz");
  m.Recipients.Add("s" + std::to_string(i % 89) + "@b.uz");
  m.Recipients.Add("t" + std::to_string(i % 83) + "@c.uz");
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int single = count < 1000 ? count : 1000;
  qovra_bench::BenchMailDb bench_db;
  if (!bench_db.Open()) return 1;
  qovra::SqliteDb& db = bench_db.db;
  int rc = 0;
  {
    qovra::RandomStartup();

    auto start = Clock::now();
    for (int i = 0; i < single; ++i) {
      if (qovra::SaveMailToDatabase(db, MakeMail(i), "alice@localhost", nullptr, nullptr, false) ==
          0)
        rc = 1;
    }
    const double single_secs = Seconds(start);
    std::printf("save, one transaction per mail:  %6d mails %8.2f s  %8.3f ms/mail\n", single,
                single_secs, single_secs * 1000.0 / single);

    start = Clock::now();
    for (int i = single; i < count;) {
      qovra::SqliteTransaction batch(db);
      for (int end = std::min(count, i + 1000); i < end; ++i) {
        if (qovra::SaveMailToDatabase(db, MakeMail(i), "alice@localhost", nullptr, nullptr,
                                      false) == 0)
          rc = 1;
      }
      if (!batch.Commit()) rc = 1;
    }
    const double batch_secs = Seconds(start);
    if (count > single) {
      std::printf("save, 1,000 mails per transaction: %6d mails %8.2f s  %8.3f ms/mail\n",
                  count - single, batch_secs, batch_secs * 1000.0 / (count - single));
    }

    start = Clock::now();
    int total = 0;
    for (int folder = 0; folder <= 4; ++folder)
      total += qovra::CountFolderMails(db, folder, "alice@localhost");
    std::printf("count 5 folders:        %8.2f ms (%d mails counted)\n", Seconds(start) * 1000.0,
                total);
    start = Clock::now();
    const int unread = qovra::CountUnreadMails(db);
    std::printf("count unread:           %8.2f ms (%d unread)\n", Seconds(start) * 1000.0, unread);
    start = Clock::now();
    std::string reports;
    const bool listed = qovra::BuildPendingReportList(db, reports);
    std::printf("pending-report list:    %8.2f ms (%zu bytes%s)\n", Seconds(start) * 1000.0,
                reports.size(), listed ? "" : ", query failed");
    std::printf("database file: %.1f MiB, peak RSS %.1f MiB\n",
                static_cast<double>(std::filesystem::file_size(bench_db.path())) / 1048576.0,
                static_cast<double>(qovra_bench::PeakRssKiB()) / 1024.0);
    qovra::RandomShutdown();
  }
  return rc;
}
