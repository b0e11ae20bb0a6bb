// Shortcuts in the owner-drawn menus: key names from the language files,
// and item widths that keep every shortcut clear of its text.
#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QKeySequence>
#include <QMenu>
#include <memory>
#include <string>

#include "base/messages.h"
#include "qovra/ui/key_names.h"
#include "qovra/ui/menu_style.h"
#include "settings/language.h"

using namespace qovra::ui;

namespace {

// The names Qt writes into shortcut texts.
const char* const kQtKeyNames[] = {
    "Ctrl",  "Shift", "Alt", "Meta", "Return", "Enter",     "Del",  "Ins", "Esc",   "Tab",
    "Space", "Home",  "End", "PgUp", "PgDown", "Backspace", "Left", "Up",  "Right", "Down"};

// Loads the shipped language file of langid into the message table for the
// life of the scope.
class ScopedLanguage {
 public:
  explicit ScopedLanguage(int langid) {
    const std::string path =
        std::string(QOVRA_LANG_DIR) + "/lang." + std::string(qovra::LanguageCode(langid)) + ".xml";
    file_ = qovra::LoadLanguageFile(path);
    if (file_) qovra::ApplyLanguageMessages(file_.get());
  }
  ~ScopedLanguage() { qovra::ClearMsgTable(); }
  bool Loaded() const { return file_ != nullptr; }

 private:
  std::shared_ptr<const qovra::TLanguageFile> file_;
};

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

QString Native(const QKeySequence& sequence) {
  return sequence.toString(QKeySequence::NativeText);
}

class MenuShortcuts : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(MenuShortcuts, KeyNamesComeFromTheLanguageFile) {
  ScopedLanguage language(GetParam());
  ASSERT_TRUE(language.Loaded());
  InstallKeyNames();
  for (const char* name : kQtKeyNames) {
    EXPECT_FALSE(LanguageKeyName(QString::fromLatin1(name)).isEmpty()) << name;
  }

  struct Row {
    QKeySequence sequence;
    QString expected;
  } rows[] = {
      {QKeySequence(Qt::ALT | Qt::Key_Return), Msg("keyNameAlt") + "+" + Msg("keyNameReturn")},
      {QKeySequence(Qt::CTRL | Qt::Key_Return), Msg("keyNameCtrl") + "+" + Msg("keyNameReturn")},
      {QKeySequence(Qt::Key_Delete), Msg("keyNameDelete")},
      {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S),
       Msg("keyNameCtrl") + "+" + Msg("keyNameAlt") + "+S"},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left),
       Msg("keyNameCtrl") + "+" + Msg("keyNameShift") + "+" + Msg("keyNameLeft")},
      {QKeySequence(Qt::Key_F5), QStringLiteral("F5")},
      {QKeySequence(Qt::CTRL | Qt::Key_N), Msg("keyNameCtrl") + "+N"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Native(row.sequence), row.expected);
  }
  // No English key word is left in the language's texts.
  EXPECT_FALSE(Native(QKeySequence(Qt::ALT | Qt::Key_Return)).contains(QStringLiteral("Return")));
  EXPECT_FALSE(Native(QKeySequence(Qt::Key_Space)).contains(QStringLiteral("Space")));
}

TEST_P(MenuShortcuts, ItemsMeasureTextGapAndShortcut) {
  ScopedLanguage language(GetParam());
  ASSERT_TRUE(language.Loaded());
  struct Item {
    const char16_t* text;
    QKeySequence shortcut;
    bool submenu;
  };
  const QKeySequence none;
  // Menus of the main window in both languages, and the extremes: a short
  // text with the longest shortcut, a long text with a short one.
  const std::vector<std::vector<Item>> menus = {
      {{u"&Жавоб бериш", QKeySequence(Qt::CTRL | Qt::Key_R), false},
       {u"&Овозли жавоб", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R), false}},
      {{u"&Янги хат", QKeySequence(Qt::CTRL | Qt::Key_N), false},
       {u"Янги &овозли хат", QKeySequence(Qt::CTRL | Qt::Key_M), false}},
      {{u"&Манзиллар китоби", none, false},
       {u"Паролни ў&згартириш...", none, false},
       {u"&Созламалар...", none, false},
       {u"&Қидириш", QKeySequence(Qt::CTRL | Qt::Key_F), false},
       {u"Фойдаланувчи &профили...", none, false}},
      {{u"&Открыть", QKeySequence(Qt::Key_Return), false},
       {u"&Ответить", none, true},
       {u"Отчёт о д&оставке", QKeySequence(Qt::ALT | Qt::Key_Return), false},
       {u"Сохранить &как...", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), false},
       {u"&Удалить", QKeySequence(Qt::Key_Delete), false}},
      {{u"A", QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_Return), false},
       {u"Импорт писем из файлов почтовой программы", QKeySequence(Qt::Key_F5), false}},
  };
  InstallKeyNames();
  for (size_t m = 0; m < menus.size(); ++m) {
    SCOPED_TRACE(m);
    QMenu menu;
    std::vector<std::unique_ptr<QMenu>> subs;
    for (const Item& item : menus[m]) {
      const QString text = QString::fromUtf16(item.text);
      if (item.submenu) {
        subs.push_back(std::make_unique<QMenu>(text));
        subs.back()->addAction(QStringLiteral("x"));
        menu.addMenu(subs.back().get());
        continue;
      }
      QAction* action = menu.addAction(text);
      action->setShortcut(item.shortcut);
      action->setShortcutVisibleInContextMenu(true);
    }
    ApplyMenuStyle(&menu);
    menu.ensurePolished();
    menu.adjustSize();
    const QFontMetrics fm(menu.font());
    for (QAction* action : menu.actions()) {
      SCOPED_TRACE(action->text().toStdString());
      const QRect rect = menu.actionGeometry(action);
      const int text_end =
          rect.left() + 32 +
          fm.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, action->text())
              .width();
      if (action->menu()) {
        // The arrow is drawn from 12 pixels left of the right edge.
        EXPECT_LE(text_end + 8, rect.right() - 12);
        continue;
      }
      const QString shortcut = Native(action->shortcut());
      if (shortcut.isEmpty()) {
        EXPECT_LE(text_end, rect.right());
        continue;
      }
      const int shortcut_start = rect.right() + 1 - 10 - fm.horizontalAdvance(shortcut);
      EXPECT_GE(shortcut_start - text_end, 16) << shortcut.toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, MenuShortcuts, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return param.param == 0 ? std::string("Uzbek") : std::string("Russian");
                         });
