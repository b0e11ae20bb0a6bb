// Contacts files (".ecx"): a small XML document of groups and contacts,
// written by the export and read by the import (also of the server's
// directory, which is such a file). The reading rules and the reasons a
// file is refused: contacts_file_reader.h.
//
// Written form, one line:
//   <?xml version="1.0" encoding="UTF-8" ?><addressbook>...</addressbook>
// with <group name="..."> (its contacts, then its subgroups) </group> and
// <contact firstname middlename lastname email company jobtitle/> (all six
// attributes, in that order). Values are the stored UTF-8 texts, escaped
// for XML.
//
// Interface thread only (the import asks through the core's window seam).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/records.h"
#include "qovra/addressbook/contacts_file_reader.h"
#include "store/sqlite_db.h"

namespace qovra {

// The elements of the written form, values escaped for XML.
// values: first, middle and last name, address, company, job title (UTF-8).
void AppendContactElement(std::string& out, const std::array<std::string_view, 6>& values);
void AppendGroupOpening(std::string& out, std::string_view name);
inline constexpr std::string_view kContactsFileOpening =
    R"(<?xml version="1.0" encoding="UTF-8" ?><addressbook>)";
inline constexpr std::string_view kGroupClosing = "</group>";
inline constexpr std::string_view kContactsFileClosing = "</addressbook>";

// The exported content of group id (0: the root's contacts, among them
// every contact in no group, and every top-level group, without a group
// element around them) or of one contact, with the opening and closing
// texts. A missing group writes nothing between them. False when a query
// failed.
bool ExportContactsText(SqliteDb& db, int32_t id, bool is_group, std::string& out);

// ExportContactsText written to path (replaced). False when a query or the
// write failed; a failed write leaves no file behind.
bool ExportContactsFile(SqliteDb& db, int32_t id, bool is_group, const std::string& path);

enum class TImportResult {
  Done,       // walked (ImportChanged tells whether anything was stored)
  NoFile,     // the file does not exist
  BadFile,    // unreadable, not decodable, not well-formed XML, a bare & or <,
              // a value over the limit, or not an address book
  EmptyFile,  // an address book without child nodes
  TooLarge,   // over kMaxContactsFileSize
  DbError,    // a statement failed: nothing of the import stays
};

// The message key of a result other than Done and NoFile ("" for those).
std::string_view ImportResultMessage(TImportResult result);

// How an import reports, and what it tells back.
struct TImportRun {
  // Progress: (items, 0) once the file is read, then (items, done) as the
  // contact and group elements are stored, items being
  // TContactsFileReader::ItemCount().
  TProgressProc Progress = nullptr;
  void* ProgressData = nullptr;
  // Set when the file was refused: why, and where for the log.
  TContactsFileFault Fault = TContactsFileFault::None;
  std::string Detail;
};

// Imports path into group group_id in one transaction. Resets DupChoice,
// ImportCancelled and ImportChanged first. A refused file changes nothing.
// Contacts whose address has not 2-32 bytes before the "@" and 4-64 after
// it are passed over. A group whose name exists under the same parent is
// asked about (msgUpdateGroupNameAs): Yes merges it and later such
// siblings without asking, No skips it with its content and reports later
// such siblings (msgGroupExists). A cancelled duplicate question ends the
// walk and keeps what was stored.
TImportResult ImportContactsFile(SqliteDb& db, const std::string& path, int32_t group_id);
TImportResult ImportContactsFile(SqliteDb& db, const std::string& path, int32_t group_id,
                                 TImportRun& run);

// The server directory: "contacts_uzc.ecx" for interface language 0,
// "contacts_ru.ecx" otherwise; its URL "http://" + server + "/client/" +
// that name.
std::string DirectoryFileName(int langid);
std::string DirectoryUrl(std::string_view server, int langid);

}  // namespace qovra
