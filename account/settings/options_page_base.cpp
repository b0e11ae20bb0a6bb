// TOptionsPage: the language on every show, and the file chooser seam.
#include <QComboBox>
#include <QFileDialog>
#include <QShowEvent>
#include <utility>
#include <vector>

#include "qovra/account/options_pages.h"
#include "qovra/ui/widgets.h"

namespace qovra::account {
namespace {

class TQtFileChooser : public IOpenFileChooser {
 public:
  QString ChooseFile(QWidget* owner, const QString& filter, const QString& initial_dir) override {
    return QFileDialog::getOpenFileName(owner, QString(), initial_dir, filter);
  }
};

IOpenFileChooser* g_chooser = nullptr;

}  // namespace

void SetOpenFileChooser(IOpenFileChooser* chooser) {
  g_chooser = chooser;
}

IOpenFileChooser& OpenFileChooser() {
  static TQtFileChooser qt_chooser;
  return g_chooser ? *g_chooser : qt_chooser;
}

}  // namespace qovra::account

void TOptionsPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  // The language file refills item lists and selects their first item; the
  // loaded choice stays.
  std::vector<std::pair<QComboBox*, int>> choices;
  for (QComboBox* combo : findChildren<QComboBox*>())
    choices.emplace_back(combo, combo->currentIndex());
  qovra::ui::ApplyLanguageToForm(this);
  for (const auto& [combo, index] : choices)
    if (index < combo->count()) combo->setCurrentIndex(index);
  TntFormShow();
}
