#include "qovra/addressbook/contacts_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "address_book_rows.h"
#include "base/address_list.h"
#include "base/quoting.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book.h"
#include "qovra/addressbook/address_book_db.h"

namespace qovra {

namespace {

using addrbook_detail::StoredText;

constexpr std::string_view kOpening = R"(<?xml version="1.0" encoding="UTF-8" ?><addressbook>)";
constexpr std::string_view kClosing = "</addressbook>";

constexpr std::string_view kExportSelect =
    "SELECT c.first_name,c.middle_name,c.last_name,c.email,o.name,j.name FROM eca_contacts AS c "
    "LEFT JOIN eca_companies AS o ON c.company_id=o.id "
    "LEFT JOIN eca_job_titles AS j ON c.job_title_id=j.id ";

void AppendEscaped(std::string& out, std::string_view text) {
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += ch;
    }
  }
}

bool AppendContactRows(SqliteStatement& q, std::string& out) {
  static constexpr const char* kAttrs[] = {"<contact firstname=\"", "\" middlename=\"",
                                           "\" lastname=\"",        "\" email=\"",
                                           "\" company=\"",         "\" jobtitle=\""};
  SqliteStatement::StepResult r;
  while ((r = q.Step()) == SqliteStatement::StepResult::Row) {
    for (int i = 0; i < 6; ++i) {
      out += kAttrs[i];
      AppendEscaped(out, q.ColumnText(i));
    }
    out += "\"/>";
  }
  return r == SqliteStatement::StepResult::Done;
}

// The contacts of group id (0: also those in no group).
bool ExportGroupContacts(SqliteDb& db, int32_t id, std::string& out) {
  std::string sql = std::string(kExportSelect) +
                    "LEFT JOIN eca_group_contacts AS g ON c.id=g.contact_id WHERE (g.group_id=?)";
  if (id == 0) sql += " OR (c.id NOT IN (SELECT contact_id FROM eca_group_contacts))";
  SqliteStatement q = db.Prepare(sql);
  if (!q.Valid()) return false;
  q.Bind(1, int64_t{id});
  return AppendContactRows(q, out);
}

bool SubGroups(SqliteStatement& q, int32_t id, std::vector<int32_t>& ids) {
  q.Reset();
  q.Bind(1, int64_t{id});
  SqliteStatement::StepResult r;
  while ((r = q.Step()) == SqliteStatement::StepResult::Row)
    ids.push_back(static_cast<int32_t>(q.ColumnInt(0)));
  return r == SqliteStatement::StepResult::Done;
}

// Group id with everything below it, walked without recursion; each group
// is entered once, so a parent_id cycle of a damaged book ends.
bool ExportGroup(SqliteDb& db, int32_t id, std::string& out) {
  SqliteStatement name_q = db.Prepare("SELECT name FROM eca_groups WHERE id=?");
  SqliteStatement sub_q = db.Prepare("SELECT id FROM eca_groups WHERE parent_id=?");
  if (!name_q.Valid() || !sub_q.Valid()) return false;
  struct TFrame {
    std::vector<int32_t> subgroups;
    size_t next = 0;
    bool element = false;  // a </group> closes it
  };
  std::unordered_set<int32_t> entered;
  std::vector<TFrame> stack;
  // Opens group gid: its element and contacts; false on a query failure.
  auto enter = [&](int32_t gid) -> bool {
    if (!entered.insert(gid).second) return true;
    TFrame frame;
    if (gid != 0) {
      name_q.Reset();
      name_q.Bind(1, int64_t{gid});
      const auto r = name_q.Step();
      if (r == SqliteStatement::StepResult::Error) return false;
      if (r == SqliteStatement::StepResult::Done) return true;  // no such group
      out += "<group name=\"";
      AppendEscaped(out, name_q.ColumnText(0));
      out += "\">";
      frame.element = true;
    }
    if (!ExportGroupContacts(db, gid, out) || !SubGroups(sub_q, gid, frame.subgroups)) return false;
    stack.push_back(std::move(frame));
    return true;
  };
  if (!enter(id)) return false;
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.next < top.subgroups.size()) {
      const int32_t sub = top.subgroups[top.next++];
      if (!enter(sub)) return false;
      continue;
    }
    if (top.element) out += "</group>";
    stack.pop_back();
  }
  return true;
}

bool AddressTaken(std::string_view email) {
  const TMailAddressParts parts = SplitMailAddress(email);
  return parts.User.size() >= 2 && parts.User.size() <= 32 && parts.Domain.size() >= 4 &&
         parts.Domain.size() <= 64;
}

bool NameIs(const pugi::xml_node& node, std::string_view name) {
  if (node.type() != pugi::node_element) return false;
  const std::string_view n = node.name();
  if (n.size() != name.size()) return false;
  for (size_t i = 0; i < n.size(); ++i) {
    char c = n[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

std::u16string Attr(const pugi::xml_node& node, const char* name) {
  return Utf8ToUtf16(node.attribute(name).value());
}

// Contacts of a large file: a contact whose address is not in the group
// yet is stored with statements prepared once (as SaveContact would store
// it); any other goes through SaveContact and its duplicate question.
class TContactWriter {
 public:
  explicit TContactWriter(SqliteDb& db)
      : db_(db),
        in_group_(db.Prepare("SELECT 1 FROM eca_group_contacts AS g JOIN eca_contacts AS c ON "
                             "c.id=g.contact_id WHERE c.email=? AND g.group_id=? LIMIT 1")),
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

// The walk over the document: R starts at 2 on every level; a group's
// result becomes the mode of its later siblings and of its own children,
// except that a newly created group (1) leaves the mode as it was, so that
// a later sibling of an existing name is still asked about.
bool ImportNodes(SqliteDb& db, const pugi::xml_node& book, int32_t group_id) {
  TContactWriter writer(db);
  struct TFrame {
    pugi::xml_node next;
    int32_t group;
    int mode;
  };
  std::vector<TFrame> stack{{book.first_child(), group_id, kAbReplacedAll}};
  while (!stack.empty() && !ImportCancelled) {
    TFrame& frame = stack.back();
    if (!frame.next) {
      stack.pop_back();
      continue;
    }
    const pugi::xml_node node = frame.next;
    frame.next = node.next_sibling();
    int r = kAbRefused;
    if (NameIs(node, "contact")) {
      const std::string email = node.attribute("email").value();
      if (!AddressTaken(email)) continue;
      TContact c;
      c.Id = -1;
      c.Email = email;
      c.FirstName = Attr(node, "firstname");
      c.MiddleName = Attr(node, "middlename");
      c.LastName = Attr(node, "lastname");
      c.Company = Attr(node, "company");
      c.JobTitle = Attr(node, "jobtitle");
      c.CompanyId = -1;
      c.JobTitleId = -1;
      c.IsContact = true;
      r = writer.Save(c, frame.group);
    } else if (NameIs(node, "group")) {
      TContact g;
      g.Id = -1;
      g.FirstName = Attr(node, "name");
      g.CompanyId = frame.group;
      g.IsContact = false;
      r = SaveGroup(db, g, frame.mode);
      if (r == kAbDbError) return false;
      if (r != kAbStored) frame.mode = r;
      if (r == kAbStored || r == kAbGroupMerged) {
        ImportChanged = true;
        // frame is not used after this push
        stack.push_back({node.first_child(), g.Id, r == kAbStored ? kAbReplacedAll : r});
      }
      continue;
    } else {
      continue;
    }
    if (r == kAbDbError) return false;
    if (r == kAbStored || r == kAbReplaced || r == kAbReplacedAll) ImportChanged = true;
  }
  return true;
}

}  // namespace

bool ExportContactsText(SqliteDb& db, int32_t id, bool is_group, std::string& out) {
  out.assign(kOpening);
  if (!db.IsOpen()) return false;
  SqliteTransaction read(db);
  bool ok;
  if (is_group) {
    ok = ExportGroup(db, id, out);
  } else {
    SqliteStatement q = db.Prepare(std::string(kExportSelect) + "WHERE c.id=?");
    ok = q.Valid();
    if (ok) {
      q.Bind(1, int64_t{id});
      ok = AppendContactRows(q, out);
    }
  }
  out += kClosing;
  return read.Commit() && ok;
}

bool ExportContactsFile(SqliteDb& db, int32_t id, bool is_group, const std::string& path) {
  std::string text;
  if (!ExportContactsText(db, id, is_group, text)) return false;
  std::error_code ec;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out) out.close();
    if (out) return true;
  }
  std::filesystem::remove(path, ec);
  return false;
}

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
  DupChoice = 0;
  ImportCancelled = false;
  ImportChanged = false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return TImportResult::NoFile;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return TImportResult::BadFile;
  if (static_cast<int64_t>(size) > kMaxContactsFileSize) return TImportResult::TooLarge;
  pugi::xml_document doc;
  // Predefined and numeric references only; a DOCTYPE is passed over.
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol;
  if (!doc.load_file(path.c_str(), options, pugi::encoding_utf8)) return TImportResult::BadFile;
  const pugi::xml_node book = doc.document_element();
  if (!NameIs(book, "addressbook")) return TImportResult::BadFile;
  if (!book.first_child()) return TImportResult::EmptyFile;
  if (!db.IsOpen()) return TImportResult::DbError;
  SqliteTransaction t(db);
  if (!ImportNodes(db, book, group_id) || !t.Commit()) {
    ImportChanged = false;
    return TImportResult::DbError;
  }
  return TImportResult::Done;
}

std::string DirectoryFileName(int langid) {
  return langid == 0 ? "contacts_uzc.ecx" : "contacts_ru.ecx";
}

std::string DirectoryUrl(std::string_view server, int langid) {
  return "http://" + std::string(server) + "/client/" + DirectoryFileName(langid);
}

}  // namespace qovra
