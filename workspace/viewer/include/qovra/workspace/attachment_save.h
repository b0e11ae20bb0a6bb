// Saving one attachment of an opened mail to a file the user chose.
//
// GUI thread only.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "base/records.h"

class QWidget;

namespace qovra {
class TMailReader;
}

namespace qovra::ui {

// Writes attachment index of reader (a DataOffset, or a list position when
// by_position) to path with progress. The data goes to a new hidden file
// beside path, which replaces path only once it is complete, so a failed or
// cut-off save never leaves a partial file, leaves nothing beside path, and
// an existing file at path stays as it was. True when path holds the
// attachment; else reason says why (for the log).
[[nodiscard]] bool SaveAttachmentFile(TMailReader& reader, int64_t index, bool by_position,
                                      const QString& path, void* progress_data,
                                      TProgressProc progress, std::string& reason);

// Tells the user over owner that the attachment could not be saved to path
// (msgCannotSaveAttachment), with reason on stderr.
void ReportAttachmentNotSaved(QWidget* owner, const QString& path, const std::string& reason);

}  // namespace qovra::ui
