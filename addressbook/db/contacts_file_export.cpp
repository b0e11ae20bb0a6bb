// Writing contacts files, and the server directory's name.
#include <filesystem>
#include <fstream>
#include <unordered_set>
#include <vector>

#include "qovra/addressbook/contacts_file.h"

namespace qovra {

namespace {

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
  SqliteStatement::StepResult r;
  std::array<std::string, 6> texts;
  while ((r = q.Step()) == SqliteStatement::StepResult::Row) {
    for (int i = 0; i < 6; ++i) texts[static_cast<size_t>(i)] = q.ColumnText(i);
    AppendContactElement(out, {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]});
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
  SqliteStatement sub_q = db.Prepare("SELECT id FROM eca_groups WHERE parent_id=? ORDER BY id");
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
      AppendGroupOpening(out, name_q.ColumnText(0));
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
    if (top.element) out += kGroupClosing;
    stack.pop_back();
  }
  return true;
}

}  // namespace

void AppendContactElement(std::string& out, const std::array<std::string_view, 6>& values) {
  static constexpr const char* kAttrs[] = {"<contact firstname=\"", "\" middlename=\"",
                                           "\" lastname=\"",        "\" email=\"",
                                           "\" company=\"",         "\" jobtitle=\""};
  for (size_t i = 0; i < values.size(); ++i) {
    out += kAttrs[i];
    AppendEscaped(out, values[i]);
  }
  out += "\"/>";
}

void AppendGroupOpening(std::string& out, std::string_view name) {
  out += "<group name=\"";
  AppendEscaped(out, name);
  out += "\">";
}

bool ExportContactsText(SqliteDb& db, int32_t id, bool is_group, std::string& out) {
  out.assign(kContactsFileOpening);
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
  out += kContactsFileClosing;
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

std::string DirectoryFileName(int langid) {
  return langid == 0 ? "contacts_uzc.ecx" : "contacts_ru.ecx";
}

std::string DirectoryUrl(std::string_view server, int langid) {
  return "http://" + std::string(server) + "/client/" + DirectoryFileName(langid);
}

}  // namespace qovra
