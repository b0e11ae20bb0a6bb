// The main window's mail list at realistic size: one folder of 100,000
// mails with 3 recipient rows each, read by TMailListModel::Fill, then
// sorted by every sortable column and searched. Prints the time of each
// step and the memory Fill adds (VmRSS after minus before, and the peak).
//
//   bench_mail_list [mail count (100000)] [recipients per mail (3)]
//
// The database is seeded with plain inserts in the stored format
// (entity-coded UTF-8 subjects, time texts, Base64 sealed keys), which is
// much faster than saving mail by mail and gives the same rows.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/base64.h"
#include "base/time_stamp.h"
#include "bench_mail_db.h"
#include "bench_peak_memory.h"
#include "platform/temp_files.h"
#include "qovra/workspace/mail_list_model.h"
#include "store/sqlite_db.h"

namespace {

using Clock = std::chrono::steady_clock;
using qovra::ui::TMailListModel;

constexpr const char* kOwn = "alice@localhost";

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double MiB(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

bool Seed(qovra::SqliteDb& db, int count, int recipients, int32_t folder) {
  qovra::SqliteTransaction transaction(db);
  qovra::SqliteStatement mail = db.Prepare(
      "INSERT INTO ecm_mails (uuid,from_address,subject,folder_id,priority,send_mode,mail_size,"
      "flag,fau_data) VALUES (?,?,?,?,?,?,?,?,?)");
  qovra::SqliteStatement rcpt = db.Prepare(
      "INSERT INTO ecm_recipients (mail_id,suid,ymbox,sent_time,received_time,read_time,"
      "to_address) VALUES (?,?,?,?,?,?,?)");
  if (!mail.Valid() || !rcpt.Valid()) return false;
  const std::string sealed = qovra::Base64Encode(std::string(65, '\x5A'));
  const char* subjects[] = {"Quarterly report &amp; figures", "Re: meeting at 10",
                            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 - invoice",
                            "&lt;urgent&gt; server maintenance", "Holiday plans"};
  for (int i = 0; i < count; ++i) {
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", i);
    const std::string subject = std::string(subjects[i % 5]) + " #" + std::to_string(i % 977);
    mail.Reset();
    mail.Bind(1, uuid)
        .Bind(2, "user" + std::to_string(i % 1009) + "@example.uz")
        .Bind(3, subject)
        .Bind(4, int64_t{folder})
        .Bind(5, int64_t{i % 3})
        .Bind(6, int64_t{i % 2})
        .Bind(7, int64_t{10000 + i})
        .Bind(8, int64_t{(i % 2 ? 0x20 : 0) | (i % 7 == 0 ? 0x01 : 0) | 0x10})
        .Bind(9, i % 10 == 0 ? std::string_view(sealed) : std::string_view());
    if (!mail.Run()) return false;
    const int64_t id = db.LastInsertRowId();
    const qovra::TDateTime sent = 44000.0 + static_cast<double>((i * 7919) % count) / 97.0;
    const std::string sent_text = qovra::DateTimeToStamp(true, sent);
    const std::string received_text = qovra::DateTimeToStamp(true, sent + 0.01);
    const std::string read_text = qovra::DateTimeToStamp(true, i % 2 ? sent + 0.5 : 0);
    for (int r = 0; r < recipients; ++r) {
      rcpt.Reset();
      rcpt.Bind(1, id)
          .Bind(2, std::string(uuid))
          .Bind(3, int64_t{1 + i % 50})
          .Bind(4, sent_text)
          .Bind(5, received_text)
          .Bind(6, read_text)
          .Bind(7, "to" + std::to_string((i + r * 31) % 1013) + "@recipient" + std::to_string(r) +
                       ".uz");
      if (!rcpt.Run()) return false;
    }
  }
  return transaction.Commit();
}

// Times one Fill and the memory it adds; the largest resident growth per
// row so far goes to *per_row_kib.
bool MeasureFill(TMailListModel& model, qovra::SqliteDb& db, int32_t folder, bool with_progress,
                 double* per_row_kib) {
  model.Clear();
  malloc_trim(0);  // hand the previous rows back, so "before" is a clean base
  const long before = qovra_bench::RssKiB();
  qovra_bench::ResetPeakRss();
  int64_t reports = 0;
  const auto start = Clock::now();
  const bool ok = with_progress ? model.Fill(db, folder, kOwn, [&](int64_t, int64_t) { ++reports; })
                                : model.Fill(db, folder, kOwn);
  const double ms = Ms(start);
  const long after = qovra_bench::RssKiB();
  const long peak = qovra_bench::PeakRssKiB();
  if (!ok) {
    std::fprintf(stderr, "fill failed: %s\n", model.error().toStdString().c_str());
    return false;
  }
  std::printf("fill folder %d%s: %7d rows %8.1f ms  +%.1f MiB resident, +%.1f MiB peak\n", folder,
              with_progress ? " with progress" : "", model.Count(), ms, MiB(after - before),
              MiB(peak - before));
  if (model.Count() > 0)
    *per_row_kib = std::max(*per_row_kib, static_cast<double>(after - before) / model.Count());
  return true;
}

// Returns the slowest sort in ms.
double MeasureSorts(TMailListModel& model) {
  double worst = 0;
  for (int column = TMailListModel::kColAddress; column <= TMailListModel::kColRead; ++column) {
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
      const auto start = Clock::now();
      model.sort(column, order);
      const double ms = Ms(start);
      worst = std::max(worst, ms);
      std::printf("  sort column %d %s: %7.1f ms\n", column,
                  order == Qt::AscendingOrder ? "asc " : "desc", ms);
    }
  }
  std::printf("  slowest sort: %.1f ms\n", worst);
  return worst;
}

// Returns the slowest search step in ms.
double MeasureSearch(const TMailListModel& model) {
  struct Step {
    const char* needle;
    int from;
  };
  const Step steps[] = {{"not-anywhere", 0},  // both columns scanned to the end
                        {"HOLIDAY", 0},       // subject hit near the start
                        {"to1012@", 0},       // address hit
                        {"\xD0\x9F\xD0\xA0\xD0\x98", model.Count() / 2}};  // Cyrillic, case
  double worst = 0;
  for (const Step& s : steps) {
    const auto start = Clock::now();
    const int hit = model.FindNext(QString::fromUtf8(s.needle), s.from);
    const double ms = Ms(start);
    worst = std::max(worst, ms);
    std::printf("  search \"%s\" from %d: row %d, %.2f ms\n", s.needle, s.from, hit, ms);
  }
  std::printf("  slowest search step: %.2f ms\n", worst);
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
  const int recipients = argc > 2 ? std::max(0, std::atoi(argv[2])) : 3;
  qovra_bench::BenchMailDb bench_db;
  if (!bench_db.Open()) return 1;
  qovra::SqliteDb& db = bench_db.db;
  int rc = 0;
  {
    auto start = Clock::now();
    if (!Seed(db, count, recipients, qovra::kFolderSent)) {
      std::fprintf(stderr, "seeding failed: %s\n", db.LastError().c_str());
      return 1;
    }
    std::printf("seeded %d mails, %d recipient rows in %.0f ms\n", count, count * recipients,
                Ms(start));

    TMailListModel model;
    double per_row = 0, sort_ms = 0, search_ms = 0;
    // Sent folder: column 2 holds the joined recipients.
    if (!MeasureFill(model, db, qovra::kFolderSent, false, &per_row)) rc = 1;
    if (!MeasureFill(model, db, qovra::kFolderSent, true, &per_row)) rc = 1;
    sort_ms = std::max(sort_ms, MeasureSorts(model));
    search_ms = std::max(search_ms, MeasureSearch(model));
    // The same mails as the inbox: column 2 holds the sender.
    if (!db.Exec("UPDATE ecm_mails SET folder_id=0")) rc = 1;
    if (!MeasureFill(model, db, qovra::kFolderInbox, false, &per_row)) rc = 1;
    sort_ms = std::max(sort_ms, MeasureSorts(model));
    search_ms = std::max(search_ms, MeasureSearch(model));
    std::printf("peak RSS of the process: %.1f MiB\n", MiB(qovra_bench::PeakRssKiB()));
    std::printf("slowest sort overall: %.1f ms\n", sort_ms);
    std::printf("slowest search step overall: %.2f ms\n", search_ms);
    std::printf("memory per row: %.3f KiB (largest resident growth of a fill)\n", per_row);
  }
  return rc;
}
