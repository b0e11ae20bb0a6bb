// Importing mail containers (.emz) from outside the program into the
// user's messages folder and the mail database.
//
// A container is taken only when its name is exactly 32 hexadecimal digits
// followed by ".emz" in any case (the name gives the mail's uuid). It is
// parsed, copied to <messages>/<uuid>.emz unless that file exists, and entered in the
// database as already handled: a mail from own_address in the sent folder
// (mfSent | mfReportDone), any other in the inbox as received and read
// (mfReceived | mfRead | mfReportDone), plus mfAttachments when it has any;
// a uuid already stored keeps its row. The signature container beside it
// (same name, ".ems" in the case of the mail's extension, else ".ems") is
// copied along unless the target exists. Copies are written under a
// temporary name and put in place without ever replacing an existing file,
// also on a file system without hard links (file_place.h). Interface
// thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "seam/ui_seam.h"
#include "store/sqlite_db.h"

namespace qovra {

// What an import did.
struct TImportResult {
  int Found = 0;    // .emz files looked at
  int Stored = 0;   // mails newly stored (row written, container in place)
  int Present = 0;  // mails whose uuid was stored already (left as they were)
  // Names of the files that were not imported: a name that is not a uuid,
  // a file that is not a mail container, or one that could not be stored.
  std::vector<std::string> Skipped;
  // Single-file import: the signature container could not be copied.
  bool SignMissing = false;
};

// Where an import goes.
struct TImportTarget {
  SqliteDb* Db = nullptr;
  std::string MessagesDir;  // with a trailing "/"
  std::string OwnAddress;
  // Owner of the progress window (folder mode); the progress window is
  // shown only when ShowProgress is true.
  TWindowHandle Owner = nullptr;
  bool ShowProgress = false;
  void* ProgressBar = nullptr;  // the bar ProgressCallback moves
};

// Whether name (without folders) is 32 hexadecimal digits + ".emz", the
// extension in any case.
bool IsMailFileName(std::string_view name);

// Imports path: with is_folder every "*.emz" entry of that folder (the
// extension in any case, in name order, folders skipped), with the progress window per file when
// asked; else the one file. REQUIRES: target.Db is open.
TImportResult ImportPath(const TImportTarget& target, const std::string& path, bool is_folder);

// The user-facing text of a result: msgMailsImported with Stored, and the
// skipped names (msgMailsNotImported) when there are any.
std::string ImportResultText(const TImportResult& result);

}  // namespace qovra
