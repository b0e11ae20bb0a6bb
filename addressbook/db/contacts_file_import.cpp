// Importing a contacts file into a group of the book.
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "address_book_rows.h"
#include "base/address_list.h"
#include "base/text_utils.h"
#include "qovra/addressbook/address_book.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contacts_file.h"

namespace qovra {

namespace {

using addrbook_detail::StoredText;

// How often the walk reports its progress, in elements.
constexpr size_t kProgressStep = 64;

bool AddressTaken(std::string_view email) {
  const TMailAddressParts parts = SplitMailAddress(email);
  return parts.User.size() >= 2 && parts.User.size() <= 32 && parts.Domain.size() >= 4 &&
         parts.Domain.size() <= 64;
}

// Contacts of a large file: a contact whose address is not in the group
// yet is stored with statements prepared once (as SaveContact would store
// it); any other goes through SaveContact and its duplicate question.
class TContactWriter {
 public:
  explicit TContactWriter(SqliteDb& db)
      : db_(db),
        // By address first: a group may hold the whole file.
        in_group_(db.Prepare("SELECT 1 FROM eca_contacts AS c CROSS JOIN eca_group_contacts AS g "
                             "ON g.contact_id=c.id WHERE c.email=? AND g.group_id=? LIMIT 1")),
        insert_(db.Prepare("INSERT INTO eca_contacts (first_name,middle_name,last_name,email,"
                           "company_id,job_title_id) VALUES (?,?,?,?,?,?)")),
        link_(db.Prepare(
            "INSERT OR IGNORE INTO eca_group_contacts (group_id,contact_id) VALUES (?,?)")) {}

  int Save(TContact& c, int32_t group_id) {
    if (!in_group_.Valid() || !insert_.Valid() || !link_.Valid()) return kAbDbError;
    const std::string email = MaskQuotes(c.Email);
    in_group_.Reset();
    in_group_.Bind(1, email).Bind(2, int64_t{group_id});
    const auto found = in_group_.Step();
    if (found == SqliteStatement::StepResult::Error) return kAbDbError;
    if (found == SqliteStatement::StepResult::Row)
      return SaveContact(db_, c, group_id, std::string_view());
    const int32_t company = NameId("eca_companies", c.Company, companies_);
    const int32_t title = NameId("eca_job_titles", c.JobTitle, titles_);
    if (company < 0 || title < 0) return kAbDbError;
    insert_.Reset();
    insert_.Bind(1, StoredText(c.FirstName))
        .Bind(2, StoredText(c.MiddleName))
        .Bind(3, StoredText(c.LastName))
        .Bind(4, email)
        .Bind(5, int64_t{company})
        .Bind(6, int64_t{title});
    if (!insert_.Run()) return kAbDbError;
    c.Id = static_cast<int32_t>(db_.LastInsertRowId());
    c.CompanyId = company;
    c.JobTitleId = title;
    link_.Reset();
    link_.Bind(1, int64_t{group_id}).Bind(2, int64_t{c.Id});
    return link_.Run() ? kAbStored : kAbDbError;
  }

 private:
  // 0 for a blank text, else the existing or a new row's id.
  int32_t NameId(std::string_view table, const std::u16string& text,
                 std::unordered_map<std::u16string, int32_t>& cache) {
    if (TrimBlanksW(text).empty()) return 0;
    const auto it = cache.find(text);
    if (it != cache.end()) return it->second;
    const int32_t id =
        LookupOrInsertName(db_, table, "name", /*lookup_first=*/true, StoredText(text));
    if (id >= 0) cache.emplace(text, id);
    return id;
  }

  SqliteDb& db_;
  SqliteStatement in_group_;
  SqliteStatement insert_;
  SqliteStatement link_;
  std::unordered_map<std::u16string, int32_t> companies_;
  std::unordered_map<std::u16string, int32_t> titles_;
};

// Groups of a large file: a group whose name is new under its parent is
// stored with statements prepared once (as SaveGroup would store it); any
// other goes through SaveGroup and its question.
class TGroupWriter {
 public:
  explicit TGroupWriter(SqliteDb& db)
      : db_(db),
        find_(db.Prepare("SELECT 1 FROM eca_groups WHERE name=? AND parent_id=? LIMIT 1")),
        insert_(db.Prepare("INSERT INTO eca_groups (name,parent_id) VALUES (?,?)")) {}

  int Save(TContact& g, int mode) {
    if (!find_.Valid() || !insert_.Valid()) return kAbDbError;
    if (g.FirstName.empty()) return kAbRefused;
    const std::string name = StoredText(g.FirstName);
    find_.Reset();
    find_.Bind(1, name).Bind(2, int64_t{g.CompanyId});
    const auto found = find_.Step();
    if (found == SqliteStatement::StepResult::Error) return kAbDbError;
    if (found == SqliteStatement::StepResult::Row) return SaveGroup(db_, g, mode);
    insert_.Reset();
    insert_.Bind(1, name).Bind(2, int64_t{g.CompanyId});
    if (!insert_.Run()) return kAbDbError;
    g.Id = static_cast<int32_t>(db_.LastInsertRowId());
    return kAbStored;
  }

 private:
  SqliteDb& db_;
  SqliteStatement find_;
  SqliteStatement insert_;
};

// The walk over the file's elements, storing them. A group's result
// becomes the mode of its later siblings and the mode of its own content
// is that result, except that a newly created group (1) leaves the mode as
// it was and walks its content with 51, so that a later sibling of an
// existing name is still asked about. False when a statement failed.
bool StoreItems(SqliteDb& db, const TContactsFileReader& reader, int32_t group_id,
                const TImportRun& run) {
  TContactWriter writer(db);
  TGroupWriter groups(db);
  struct TFrame {
    int32_t group;
    int mode;
  };
  std::vector<TFrame> stack{{group_id, kAbReplacedAll}};
  bool failed = false;
  const auto total = static_cast<int64_t>(reader.ItemCount());
  int64_t done = 0;
  const auto step = [&] {
    if (++done % kProgressStep == 0) ReportProgress(run.Progress, run.ProgressData, total, done);
  };
  TContactsFileVisitor visitor;
  visitor.OnContact = [&](const TContact& read) {
    step();
    if (!AddressTaken(read.Email)) return true;
    TContact c = read;
    const int r = writer.Save(c, stack.back().group);
    if (r == kAbDbError) {
      failed = true;
      return false;
    }
    if (r == kAbStored || r == kAbReplaced || r == kAbReplacedAll) ImportChanged = true;
    return !ImportCancelled;
  };
  visitor.OnGroup = [&](const TContact& read) {
    step();
    TFrame& frame = stack.back();
    TContact g = read;
    g.CompanyId = frame.group;
    const int r = groups.Save(g, frame.mode);
    if (r == kAbDbError) {
      failed = true;
      return TGroupStep::Stop;
    }
    if (r != kAbStored) frame.mode = r;
    if (r != kAbStored && r != kAbGroupMerged) return TGroupStep::Skip;
    ImportChanged = true;
    stack.push_back({g.Id, r == kAbStored ? kAbReplacedAll : r});
    return TGroupStep::Enter;
  };
  visitor.OnGroupEnd = [&] { stack.pop_back(); };
  ReportProgress(run.Progress, run.ProgressData, total, 0);
  (void)reader.Walk(visitor);
  ReportProgress(run.Progress, run.ProgressData, total, total);
  return !failed;
}

TImportResult ResultOf(TContactsFileFault fault) {
  switch (fault) {
    case TContactsFileFault::TooLarge:
      return TImportResult::TooLarge;
    case TContactsFileFault::Empty:
      return TImportResult::EmptyFile;
    default:
      return TImportResult::BadFile;
  }
}

}  // namespace

std::string_view ImportResultMessage(TImportResult result) {
  switch (result) {
    case TImportResult::BadFile:
      return "msgIncorrectQovraContactsFile";
    case TImportResult::EmptyFile:
      return "msgEmptyQovraContactsFile";
    case TImportResult::TooLarge:
      return "msgContactsFileTooLarge";
    case TImportResult::DbError:
      return "msgContactsImportFailed";
    case TImportResult::Done:
    case TImportResult::NoFile:
      break;
  }
  return {};
}

TImportResult ImportContactsFile(SqliteDb& db, const std::string& path, int32_t group_id) {
  TImportRun run;
  return ImportContactsFile(db, path, group_id, run);
}

TImportResult ImportContactsFile(SqliteDb& db, const std::string& path, int32_t group_id,
                                 TImportRun& run) {
  DupChoice = 0;
  ImportCancelled = false;
  ImportChanged = false;
  run.Fault = TContactsFileFault::None;
  run.Detail.clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return TImportResult::NoFile;
  TContactsFileReader reader;
  if (!reader.ReadFile(path)) {
    run.Fault = reader.Fault();
    run.Detail = reader.Detail();
    return ResultOf(run.Fault);
  }
  if (!db.IsOpen()) return TImportResult::DbError;
  SqliteTransaction t(db);
  if (!t.Active() || !StoreItems(db, reader, group_id, run) || !t.Commit()) {
    ImportChanged = false;
    return TImportResult::DbError;
  }
  return TImportResult::Done;
}

}  // namespace qovra
