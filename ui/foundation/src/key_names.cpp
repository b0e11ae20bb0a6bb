#include "qovra/ui/key_names.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>
#include <cstring>

#include "base/messages.h"

namespace qovra::ui {

namespace {

// Qt's names in shortcut texts and the message keys of the language files.
struct KeyName {
  const char* qt_name;
  const char* msg_key;
};
constexpr KeyName kKeyNames[] = {
    {"Ctrl", "keyNameCtrl"},
    {"Shift", "keyNameShift"},
    {"Alt", "keyNameAlt"},
    {"Meta", "keyNameMeta"},
    {"Return", "keyNameReturn"},
    {"Enter", "keyNameEnter"},
    {"Del", "keyNameDelete"},
    {"Ins", "keyNameInsert"},
    {"Esc", "keyNameEscape"},
    {"Tab", "keyNameTab"},
    {"Backspace", "keyNameBackspace"},
    {"Space", "keyNameSpace"},
    {"Home", "keyNameHome"},
    {"End", "keyNameEnd"},
    {"PgUp", "keyNamePageUp"},
    {"PgDown", "keyNamePageDown"},
    {"Left", "keyNameLeft"},
    {"Up", "keyNameUp"},
    {"Right", "keyNameRight"},
    {"Down", "keyNameDown"},
};

// Answers Qt's own requests for key names (context "QShortcut") from the
// language file and leaves every other text to the next translator.
class TKeyNameTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;

  bool isEmpty() const override { return false; }

  QString translate(const char* context, const char* source_text, const char* disambiguation,
                    int n) const override {
    (void)disambiguation;
    (void)n;
    if (!context || !source_text || std::strcmp(context, "QShortcut") != 0) return QString();
    return LanguageKeyName(QString::fromLatin1(source_text));
  }
};

}  // namespace

QString LanguageKeyName(const QString& qt_name) {
  for (const KeyName& name : kKeyNames) {
    if (qt_name != QLatin1String(name.qt_name)) continue;
    const std::string text = qovra::GetMsg(name.msg_key);
    // Without an entry GetMsg makes a text from the key ("Name return"),
    // which no language gives as a key name.
    if (text.empty() || text == qovra::MsgTextFromKey(name.msg_key)) return QString();
    return QString::fromStdString(text);
  }
  return QString();
}

void InstallKeyNames() {
  static QPointer<TKeyNameTranslator> installed;
  if (installed || !QCoreApplication::instance()) return;
  installed = new TKeyNameTranslator(QCoreApplication::instance());
  QCoreApplication::installTranslator(installed);
}

}  // namespace qovra::ui
