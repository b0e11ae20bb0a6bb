#include "viewer_language.h"

#include <filesystem>
#include <system_error>

#include "base/records.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "settings/settings.h"
#include "settings/settings_xml.h"

namespace jorvik {

int ViewerLanguage(int from_arguments, const std::string& program_dir) {
  if (from_arguments >= 0) return from_arguments;
  constexpr int64_t kMaxSettingsFile = 1 << 20;
  const qovra::TSettingsPaths paths = qovra::LocateSettingsFile(program_dir + "qovra");
  for (const std::string& file : {paths.file, paths.seed_file}) {
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec)) continue;
    qovra::TOptions options;
    const std::u16string name = qovra::Utf8ToUtf16(file);
    if (qovra::GetFileSizeW(name) <= kMaxSettingsFile) {
      // A file that does not parse leaves the empty settings' values.
      (void)qovra::ReadOptionsFromBytes(qovra::LoadFileToString(name), options);
    }
    return options.langid;
  }
  return kFirstStartLanguage;
}

}  // namespace jorvik
