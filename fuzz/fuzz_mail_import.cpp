// Fuzz target: a mail file imported as the import dialog imports it. The
// input is written as "<uuid>.emz" in a folder of its own and imported into
// a copy of the shipped mail database and a messages folder. Whatever the
// bytes, the import keeps its promise: either the mail is stored (one row
// under its uuid, in the inbox or the sent folder, and beside it a copy
// identical to the input) or it is skipped and nothing is written; no
// temporary file of the import or of the container reader stays.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "fuzz_scratch.h"
#include "mail/mail_import.h"
#include "platform/temp_files.h"
#include "store/sqlite_db.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUuid[] = "0123456789ABCDEF0123456789ABCDEF";
constexpr char kOwnAddress[] = "alice@localhost";

struct Work {
  std::string root;  // in/, messages/, tmp/ and the database
  qovra::SqliteDb db;
  qovra::TImportTarget target;
};

Work* work = nullptr;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Empty(const std::string& dir) {
  std::error_code ec;
  return fs::is_empty(dir, ec) && !ec;
}

int64_t Count(const char* sql) {
  qovra::SqliteStatement q = work->db.Prepare(sql);
  if (!q.Valid() || q.Step() != qovra::SqliteStatement::StepResult::Row) __builtin_trap();
  return q.ColumnInt(0);
}

}  // namespace

// The work folder is memory-backed when the system offers one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string root = qovra_fuzz::ScratchFolder("fuzz-import");
  work = new Work;
  work->root = root;
  for (const char* dir : {"/in", "/messages", "/tmp"}) fs::create_directory(root + dir);
  fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", root + "/ecm.edb");
  if (!work->db.Open(root + "/ecm.edb") ||
      !work->db.Exec("PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;"))
    std::abort();
  qovra::SetTempFolder(root + "/tmp/");
  std::atexit([] { work->db.Close(); });
  work->target.Db = &work->db;
  work->target.MessagesDir = root + "/messages/";
  work->target.OwnAddress = kOwnAddress;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string path = work->root + "/in/" + kUuid + ".emz";
  std::ofstream(path, std::ios::binary) << input;

  const qovra::TImportResult r = qovra::ImportPath(work->target, path, /*is_folder=*/false);
  const std::string copy = work->target.MessagesDir + kUuid + ".emz";
  if (r.Found != 1 || r.Present != 0 || r.Stored + static_cast<int>(r.Skipped.size()) != 1)
    __builtin_trap();
  if (r.Stored == 1) {
    if (Count("SELECT COUNT(*) FROM ecm_mails WHERE uuid='0123456789ABCDEF0123456789ABCDEF'"
              " AND folder_id IN (0, 2)") != 1)
      __builtin_trap();
    if (ReadAll(copy) != input) __builtin_trap();
    // The copy is all the import left; nothing else was beside it.
    std::error_code ec;
    if (!fs::remove(copy, ec) || !Empty(work->target.MessagesDir)) __builtin_trap();
  } else {
    if (Count("SELECT COUNT(*) FROM ecm_mails") != 0 || !Empty(work->target.MessagesDir))
      __builtin_trap();
  }
  if (Count(
          "SELECT COUNT(*) FROM ecm_recipients WHERE mail_id NOT IN (SELECT id FROM ecm_mails)") !=
      0)
    __builtin_trap();
  if (!Empty(work->root + "/tmp")) __builtin_trap();
  if (!work->db.Exec("DELETE FROM ecm_recipients; DELETE FROM ecm_mails;")) __builtin_trap();
  return 0;
}
