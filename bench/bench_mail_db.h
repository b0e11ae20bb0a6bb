// A private copy of the mail database template beside the benchmark,
// opened for the run and removed with the object.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/temp_files.h"
#include "settings/settings.h"
#include "store/sqlite_db.h"

namespace qovra_bench {

class BenchMailDb {
 public:
  BenchMailDb() = default;
  ~BenchMailDb() {
    db.Close();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  BenchMailDb(const BenchMailDb&) = delete;
  BenchMailDb& operator=(const BenchMailDb&) = delete;

  // Copies ecm.edb from the program's folder into a private folder and
  // opens it; says why on stderr and returns false when it cannot.
  bool Open() {
    dir_ = qovra::MakePrivateTempFolder("qovra-bench-");
    if (dir_.empty()) return false;
    path_ = dir_ + "ecm.edb";
    const std::filesystem::path program(qovra::CurrentProgramPath());
    std::error_code ec;
    std::filesystem::copy_file(program.parent_path() / "ecm.edb", path_, ec);
    if (ec) {
      std::fprintf(stderr, "no template beside the program: %s\n", ec.message().c_str());
      return false;
    }
    if (!db.Open(path_)) {
      std::fprintf(stderr, "%s\n", db.LastError().c_str());
      return false;
    }
    return true;
  }
  const std::string& path() const { return path_; }

  qovra::SqliteDb db;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace qovra_bench
