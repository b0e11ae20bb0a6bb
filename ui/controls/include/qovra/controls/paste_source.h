// Where the program's edits read the text that a paste brings in.
//
// The default source reads the application clipboard; the primary selection
// (the middle-click paste) only where the platform keeps one. Tests install a
// fake to supply a selection on platforms without one.
#pragma once

#include <QClipboard>
#include <QString>
#include <optional>

namespace qovra::ui {

class IPasteSource {
 public:
  virtual ~IPasteSource() = default;
  // The text held in mode, or nothing when that clipboard holds no text or
  // the platform has no such clipboard. Reading never changes the clipboard.
  virtual std::optional<QString> Text(QClipboard::Mode mode) = 0;
};

// Installs a source; null restores the default. The caller keeps ownership
// and must keep it alive while it is installed.
void SetPasteSource(IPasteSource* source);

// The text of mode through the installed source.
std::optional<QString> PasteText(QClipboard::Mode mode);

}  // namespace qovra::ui
