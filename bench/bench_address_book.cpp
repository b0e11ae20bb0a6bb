// The address book at realistic size: a book of 50,000 contacts in 500
// groups (50 top-level groups of 9 subgroups each; every contact in one
// group, every tenth also in a second one, 500 without any link), opened
// in the recipient picker. Prints the time of each step:
//   - loading the picker's tree (repair, load, model, expanding every row),
//     also with a To text of 50 addresses to check;
//   - ContactEmailExists, per call, for addresses in and not in the book;
//   - one search step (the search line changed), for a row near the end
//     and for a text that matches nothing;
//   - the same in the contacts book window, which also opens with every
//     row expanded; the export of the whole book to a contacts file and
//     its import into an empty book;
//   - imports through the contacts book window into an empty book, as the
//     user runs them (with the progress window's reports counted, the
//     target group rebuilt and expanded): a file of 100,000 contacts in one
//     group, and one of 100,000 groups nested five levels deep with a
//     contact in each.
//
//   bench_address_book [contact count (50000)] [group count (500)]
//                      [imported count (100000)]
//
// The book is seeded with plain inserts in the stored format. It runs on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QLineEdit>
#include <QTreeView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_tree_model.h"
#include "qovra/addressbook/contacts_file.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/controls/search_edit_frame.h"
#include "seam/ui_seam.h"
#include "store/sqlite_db.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::string Address(int i) {
  return "user" + std::to_string(i) + "@dept" + std::to_string(i % 37) + ".example.uz";
}

bool Seed(qovra::SqliteDb& db, int contacts, int groups) {
  qovra::SqliteTransaction transaction(db);
  qovra::SqliteStatement group =
      db.Prepare("INSERT INTO eca_groups (id,name,parent_id) VALUES (?,?,?)");
  qovra::SqliteStatement contact = db.Prepare(
      "INSERT INTO eca_contacts (id,first_name,middle_name,last_name,email,company_id,"
      "job_title_id) VALUES (?,?,?,?,?,?,?)");
  qovra::SqliteStatement link =
      db.Prepare("INSERT OR IGNORE INTO eca_group_contacts (group_id,contact_id) VALUES (?,?)");
  if (!group.Valid() || !contact.Valid() || !link.Valid()) return false;
  (void)db.Exec(
      "INSERT INTO eca_companies (id,name) VALUES (1,'Acme'),(2,'\xD0\x9E\xD0\x9E\xD0\x9E')");
  const int top = std::max(1, groups / 10);
  for (int g = 1; g <= groups; ++g) {
    // Groups 1..top are top level; the rest sit below them in turn.
    const int parent = g <= top ? 0 : 1 + (g - top - 1) % top;
    group.Reset();
    if (!group.Bind(1, int64_t{g})
             .Bind(2, "Group " + std::to_string(g))
             .Bind(3, int64_t{parent})
             .Run()) {
      return false;
    }
  }
  const char* first[] = {"Ivan", "\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0", "Aziz", "Madina"};
  const char* last[] = {"Petrov", "Karimova",
                        "\xD0\xA1\xD0\xB8\xD0\xB4\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB2", "Usmonov",
                        "Lee"};
  for (int i = 1; i <= contacts; ++i) {
    contact.Reset();
    if (!contact.Bind(1, int64_t{i})
             .Bind(2, first[i % 4])
             .Bind(3, "")
             .Bind(4, std::string(last[i % 5]) + std::to_string(i % 1000))
             .Bind(5, Address(i))
             .Bind(6, int64_t{i % 3})
             .Bind(7, int64_t{0})
             .Run()) {
      return false;
    }
    if (i > contacts - 500) continue;  // the root's unlinked contacts
    link.Reset();
    if (!link.Bind(1, int64_t{1 + i % groups}).Bind(2, int64_t{i}).Run()) return false;
    if (i % 10 == 0) {
      link.Reset();
      if (!link.Bind(1, int64_t{1 + (i / 10) % groups}).Bind(2, int64_t{i}).Run()) return false;
    }
  }
  return transaction.Commit();
}

// A contacts file of count contacts in one group, or of count nested
// groups with one contact each: group i holds groups 10i+1 to 10i+10, so
// that the groups lie five levels deep under ten top-level ones.
bool WriteImportFile(const std::string& path, int count, bool nested) {
  std::string text(qovra::kContactsFileOpening);
  const auto contact = [&text](int i) {
    const std::string address = "imp" + std::to_string(i) + "@import.example.uz";
    const std::string last = "Name" + std::to_string(i % 5000);
    qovra::AppendContactElement(text, {"First", "", last, address, "Acme", "Boss"});
  };
  if (!nested) {
    qovra::AppendGroupOpening(text, "Imported");
    for (int i = 1; i <= count; ++i) contact(i);
    text += qovra::kGroupClosing;
  } else {
    // Depth first over the numbering, without recursion.
    std::vector<std::pair<int, int>> stack;  // group, next child slot
    for (int top = 10; top >= 1; --top) stack.emplace_back(-top, 0);
    while (!stack.empty()) {
      auto& [group, slot] = stack.back();
      if (group < 0) {  // not opened yet
        group = -group;
        qovra::AppendGroupOpening(text, "Group " + std::to_string(group));
        contact(group);
      }
      const int child = group * 10 + 1 + slot;
      if (slot < 10 && child <= count) {
        ++slot;
        stack.emplace_back(-child, 0);
        continue;
      }
      text += qovra::kGroupClosing;
      stack.pop_back();
    }
  }
  text += qovra::kContactsFileClosing;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

// Counts the progress reports of an import.
class ProgressCounter : public qovra::IProgressUi {
 public:
  void ShowProgress(qovra::TWindowHandle, bool, const std::string&, const std::string&) override {}
  void HideProgress(qovra::TWindowHandle, bool) override {}
  void ReportProgress(void*, int64_t, int64_t) override { ++reports; }
  int reports = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int contacts = argc > 1 ? std::atoi(argv[1]) : 50000;
  const int groups = argc > 2 ? std::atoi(argv[2]) : 500;
  const int import_count = argc > 3 ? std::atoi(argv[3]) : 100000;

  const std::filesystem::path bin = QCoreApplication::applicationDirPath().toStdString();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "qovra-bench-eca";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "eca.edb").string();
  std::error_code ec;
  std::filesystem::copy_file(bin / "eca.edb", path, ec);
  qovra::SqliteDb db;
  if (ec || !db.Open(path)) {
    std::fprintf(stderr, "bench_address_book: no template %s/eca.edb\n", bin.c_str());
    return 1;
  }
  qovra::SetMsg("msgAll", "All");
  auto start = Clock::now();
  if (!Seed(db, contacts, groups)) {
    std::fprintf(stderr, "bench_address_book: seeding failed: %s\n", db.LastError().c_str());
    return 1;
  }
  std::printf("book: %d contacts in %d groups, seeded in %.0f ms\n", contacts, groups, Ms(start));

  // Loading the picker's tree (best of three, each in a new window).
  double best = 1e9;
  size_t rows = 0;
  for (int run = 0; run < 3; ++run) {
    TfrmContactsList picker(db);
    picker.resize(440, 480);
    start = Clock::now();
    picker.Prepare(QString());
    best = std::min(best, Ms(start));
    rows = 0;
    for (auto* n = picker.Model()->Tree().First(); n; n = qovra::TContactTree::Next(n)) ++rows;
  }
  std::printf("picker tree load:        %8.1f ms  (%zu rows, all expanded)\n", best, rows);

  // Its parts: the database load alone, and the model over it.
  {
    qovra::addressbook::TContactTreeModel model;
    start = Clock::now();
    (void)qovra::UpgradeContactsSchema(db);
    const double repair = Ms(start);
    start = Clock::now();
    model.BeginFill();
    qovra::TContactNode* root = qovra::AddAllGroupNode(model.Tree());
    (void)qovra::LoadGroupNode(db, model.Tree(), *root);
    const double load = Ms(start);
    start = Clock::now();
    model.EndFill();
    std::printf("  parts: repair %.1f ms, database load %.1f ms, model keys %.1f ms\n", repair,
                load, Ms(start));
  }

  std::string to_text;
  for (int i = 0; i < 50; ++i) to_text += Address(1 + i * (contacts / 50)) + "; ";
  {
    TfrmContactsList picker(db);
    start = Clock::now();
    picker.Prepare(QString::fromStdString(to_text));
    std::printf("picker load + 50 checks: %8.1f ms\n", Ms(start));
  }

  // ContactEmailExists.
  const int lookups = 20000;
  int found = 0;
  start = Clock::now();
  for (int i = 0; i < lookups; ++i) {
    found += qovra::ContactEmailExists(db, Address(1 + (i * 7919) % contacts)) ? 1 : 0;
  }
  const double in_book = Ms(start) / lookups;
  start = Clock::now();
  for (int i = 0; i < lookups; ++i) {
    found += qovra::ContactEmailExists(db, "nobody" + std::to_string(i) + "@x.uz") ? 1 : 0;
  }
  const double not_in_book = Ms(start) / lookups;
  std::printf("ContactEmailExists:      %8.4f ms in the book, %.4f ms not (%d found)\n", in_book,
              not_in_book, found);

  // Search steps.
  TfrmContactsList picker(db);
  picker.resize(440, 480);
  picker.Prepare(QString());
  picker.show();
  QApplication::processEvents();
  const struct {
    const char* label;
    QString text;
  } searches[] = {
      {"a row near the end", QString::fromStdString(Address(contacts - 1))},
      {"no match", QStringLiteral("zzzz-no-such-row")},
      {"a typed prefix", QStringLiteral("karimova9")},
  };
  for (const auto& s : searches) {
    double worst = 0;
    for (int run = 0; run < 5; ++run) {
      picker.frameSearchEditField->eSearch()->clear();
      QApplication::processEvents();
      start = Clock::now();
      picker.frameSearchEditField->eSearch()->setText(s.text);
      QApplication::processEvents();
      worst = std::max(worst, Ms(start));
    }
    std::printf("search step (%s): %6.1f ms (worst of 5)\n", s.label, worst);
  }
  picker.hide();

  // The contacts book window: opening, search steps, export and import.
  {
    double open_best = 1e9;
    for (int run = 0; run < 3; ++run) {
      TfrmAddrBook book(db);
      start = Clock::now();
      book.Prepare();
      book.show();
      QApplication::processEvents();
      open_best = std::min(open_best, Ms(start));
    }
    std::printf("book window open:        %8.1f ms (best of 3, all expanded)\n", open_best);
    TfrmAddrBook book(db);
    book.Prepare();
    book.show();
    book.acContactFindExecute();
    QApplication::processEvents();
    for (const auto& s : searches) {
      double worst = 0;
      for (int run = 0; run < 5; ++run) {
        book.frameSearchEdit1->eSearch()->clear();
        QApplication::processEvents();
        start = Clock::now();
        book.frameSearchEdit1->eSearch()->setText(s.text);
        QApplication::processEvents();
        worst = std::max(worst, Ms(start));
      }
      std::printf("book search step (%s): %6.1f ms (worst of 5)\n", s.label, worst);
    }
    const std::string file = (dir / "all.ecx").string();
    start = Clock::now();
    const bool exported = qovra::ExportContactsFile(db, 0, true, file);
    std::printf("export of the whole book: %7.1f ms (%s, %ju bytes)\n", Ms(start),
                exported ? "ok" : "FAILED",
                static_cast<uintmax_t>(std::filesystem::file_size(file, ec)));
    qovra::SqliteDb empty;
    std::filesystem::copy_file(bin / "eca.edb", dir / "empty.edb", ec);
    if (!ec && empty.Open((dir / "empty.edb").string())) {
      start = Clock::now();
      const qovra::TImportResult r = qovra::ImportContactsFile(empty, file, 0);
      std::printf("import into an empty book: %6.1f ms (%s)\n", Ms(start),
                  r == qovra::TImportResult::Done ? "ok" : "FAILED");
    }
    book.hide();
  }
  db.Close();

  // Imports through the contacts book window into an empty book, as the
  // user runs them (the target group rebuilt and expanded afterwards).
  const struct {
    const char* label;
    bool nested;
  } imports[] = {{"contacts in one group", false}, {"nested groups", true}};
  for (const auto& imp : imports) {
    const std::string file = (dir / "import.ecx").string();
    if (!WriteImportFile(file, import_count, imp.nested)) {
      std::fprintf(stderr, "bench_address_book: cannot write %s\n", file.c_str());
      return 1;
    }
    std::filesystem::remove(dir / "import.edb", ec);
    std::filesystem::copy_file(bin / "eca.edb", dir / "import.edb", ec);
    qovra::SqliteDb target;
    if (ec || !target.Open((dir / "import.edb").string())) return 1;
    ProgressCounter progress;
    qovra::SetProgressUi(&progress);
    {
      TfrmAddrBook book(target);
      book.Prepare();
      book.show();
      QApplication::processEvents();
      start = Clock::now();
      book.ImportFromFile(file);
      QApplication::processEvents();
      const double ms = Ms(start);
      size_t shown = 0;
      for (auto* n = book.Model()->Tree().First(); n; n = qovra::TContactTree::Next(n)) ++shown;
      std::printf("import of %d %s (window): %8.1f ms (%zu rows, %d progress reports)\n",
                  import_count, imp.label, ms, shown, progress.reports);
      book.hide();
    }
    qovra::SetProgressUi(nullptr);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
