// Build-time generator of the template databases: runs one SQL script into
// a new SQLite file.
//
//   make_template_db SCRIPT OUTPUT
//
// The file is built under OUTPUT.tmp and renamed over OUTPUT only when the
// whole script ran, so a failed build never leaves a half-made template.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int Fail(const std::string& what, sqlite3* db) {
  std::fprintf(stderr, "make_template_db: %s%s%s\n", what.c_str(), db ? ": " : "",
               db ? sqlite3_errmsg(db) : "");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_template_db SCRIPT OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return Fail(std::string("cannot read ") + argv[1], nullptr);
  std::stringstream script;
  script << in.rdbuf();

  const std::string output = argv[2];
  const std::string temp = output + ".tmp";
  std::remove(temp.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const int rc = Fail("cannot create " + temp, db);
    sqlite3_close(db);
    return rc;
  }
  const std::string sql = "BEGIN;\n" + script.str() + "\nCOMMIT;";
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "make_template_db: %s: %s\n", argv[1], message ? message : "error");
    sqlite3_free(message);
    sqlite3_close(db);
    std::remove(temp.c_str());
    return 1;
  }
  if (sqlite3_close(db) != SQLITE_OK) return Fail("cannot close " + temp, nullptr);
  if (std::rename(temp.c_str(), output.c_str()) != 0) {
    std::remove(temp.c_str());
    return Fail("cannot rename " + temp + " to " + output, nullptr);
  }
  return 0;
}
