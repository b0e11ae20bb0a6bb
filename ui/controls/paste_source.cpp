#include "qovra/controls/paste_source.h"

#include <QGuiApplication>
#include <QMimeData>

namespace qovra::ui {
namespace {

class SystemPasteSource final : public IPasteSource {
 public:
  std::optional<QString> Text(QClipboard::Mode mode) override {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return std::nullopt;
    if (mode == QClipboard::Selection && !clipboard->supportsSelection()) return std::nullopt;
    if (mode == QClipboard::FindBuffer && !clipboard->supportsFindBuffer()) return std::nullopt;
    const QMimeData* data = clipboard->mimeData(mode);
    if (!data || !data->hasText()) return std::nullopt;
    return data->text();
  }
};

IPasteSource*& Installed() {
  static IPasteSource* source = nullptr;
  return source;
}

}  // namespace

void SetPasteSource(IPasteSource* source) {
  Installed() = source;
}

std::optional<QString> PasteText(QClipboard::Mode mode) {
  if (IPasteSource* source = Installed()) return source->Text(mode);
  static SystemPasteSource system;
  return system.Text(mode);
}

}  // namespace qovra::ui
