// Copying a folder's content into another folder.
//
// Interface thread only.
#pragma once

#include <string>
#include <vector>

namespace qovra {

struct TFolderCopyOptions {
  // Replace files that already exist in the target (else they are kept).
  bool overwrite = true;
  // Names of entries directly in the source folder that are not copied.
  std::vector<std::string> skip_top_level;
};

// Copies every file and sub-folder of from into to, at any depth, in name
// order. Missing folders are made with mode 0700; each file is written to a
// temporary name beside its target (mode 0600) and renamed, so a target
// file is either whole or as it was. Symbolic links are neither followed
// nor copied. The source is never changed. Stops at the first failure and
// returns false with the path that failed in failed_path; what was copied
// before stays. REQUIRES: from and to end with "/".
[[nodiscard]] bool CopyFolderContents(const std::string& from, const std::string& to,
                                      const TFolderCopyOptions& options,
                                      std::string* failed_path = nullptr);

// Copies the regular file from as to_folder + name the same way (replacing
// a file there). REQUIRES: to_folder ends with "/" and exists.
[[nodiscard]] bool CopyFileInto(const std::string& from, const std::string& to_folder,
                                const std::string& name);

}  // namespace qovra
