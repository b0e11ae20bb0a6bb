// Contacts files (".ecx"): a small XML document of groups and contacts,
// written by the export and read by the import (also of the server's
// directory, which is such a file).
//
// Written form, one line:
//   <?xml version="1.0" encoding="UTF-8" ?><addressbook>...</addressbook>
// with <group name="..."> (its contacts, then its subgroups) </group> and
// <contact firstname middlename lastname email company jobtitle/> (all six
// attributes, in that order). Values are the stored UTF-8 texts, escaped
// for XML.
//
// Read form: any well-formed XML file up to kMaxContactsFileSize whose
// document element is "addressbook" (any case); "group" and "contact"
// elements (any case) are taken in document order, groups nesting to any
// depth; attributes by their exact names, a missing one reads as empty.
// Neither entities nor a DTD are expanded.
//
// Interface thread only (the import asks through the core's window seam).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/sqlite_db.h"

namespace qovra {

inline constexpr int64_t kMaxContactsFileSize = int64_t{64} << 20;

// The exported content of group id (0: the root's contacts and every
// top-level group, without a group element around them) or of one contact,
// with the opening and closing texts. A missing group writes nothing
// between them. False when a query failed.
bool ExportContactsText(SqliteDb& db, int32_t id, bool is_group, std::string& out);

// ExportContactsText written to path (replaced). False when a query or the
// write failed; a failed write leaves no file behind.
bool ExportContactsFile(SqliteDb& db, int32_t id, bool is_group, const std::string& path);

enum class TImportResult {
  Done,       // walked (ImportChanged tells whether anything was stored)
  NoFile,     // the file does not exist
  BadFile,    // unreadable, not XML, or not an address book
  EmptyFile,  // an address book without child nodes
  TooLarge,   // over kMaxContactsFileSize
  DbError,    // a statement failed: nothing of the import stays
};

// The message key of a result other than Done and NoFile ("" for those).
std::string_view ImportResultMessage(TImportResult result);

// Imports path into group group_id in one transaction. Resets DupChoice,
// ImportCancelled and ImportChanged first. Contacts whose address has not
// 2-32 bytes before the "@" and 4-64 after it are passed over. A group
// whose name exists under the same parent is asked about
// (msgUpdateGroupNameAs): Yes merges it and later such siblings without
// asking, No skips it with its content and reports later such siblings
// (msgGroupExists). A cancelled duplicate question ends the walk and keeps
// what was stored.
TImportResult ImportContactsFile(SqliteDb& db, const std::string& path, int32_t group_id);

// The server directory: "contacts_uzc.ecx" for interface language 0,
// "contacts_ru.ecx" otherwise; its URL "http://" + server + "/client/" +
// that name.
std::string DirectoryFileName(int langid);
std::string DirectoryUrl(std::string_view server, int langid);

}  // namespace qovra
