// The windows' texts in the shipped language files: built with each
// language, TfrmMain, TfrmLogin, TfrmPassword and TfrmAbout show the file's
// texts and no built-in caption, and every component an element names
// exists in its window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QStyle>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/records.h"
#include "qovra/account/change_password.h"
#include "qovra/account/login_window.h"
#include "qovra/account/password_prompt.h"
#include "qovra/account/user_profile.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/testing/fake_tray_icon.h"
#include "qovra/workspace/view_voice_mail.h"
#include "seam/fake_ui.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "support/program_language.h"

namespace {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A caption as the user reads it: no accelerator marks, no trailing ellipsis
// (a toolbar button shows its action's caption that way).
QString Plain(QString text) {
  text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
  text.replace(QStringLiteral("&&"), QStringLiteral("&"));
  while (text.endsWith(QLatin1Char('.')) || text.endsWith(QChar(0x2026))) text.chop(1);
  return text.trimmed();
}

bool HasLetters(const QString& text) {
  for (const QChar c : text)
    if (c.isLetter()) return true;
  return false;
}

QObject* FindByName(QWidget* window, const QString& name) {
  if (window->objectName().compare(name, Qt::CaseInsensitive) == 0) return window;
  for (QObject* o : window->findChildren<QObject*>())
    if (o->objectName().compare(name, Qt::CaseInsensitive) == 0) return o;
  return nullptr;
}

// A text the user sees on a component: its own, with what it is.
struct ShownText {
  QObject* object;
  QString text;
};

std::vector<ShownText> ShownTexts(QWidget* window) {
  std::vector<ShownText> out;
  for (QAction* a : window->findChildren<QAction*>()) {
    if (!a->text().isEmpty()) out.push_back({a, a->text()});
  }
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (!b->text().isEmpty()) out.push_back({b, b->text()});
  }
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (!l->text().isEmpty()) out.push_back({l, l->text()});
  }
  return out;
}

QString Describe(const QObject* o) {
  QString name = o->objectName();
  if (name.isEmpty()) {
    const auto* a = qobject_cast<const QAction*>(o);
    name = a && a->menu() ? QStringLiteral("title of menu ") + a->menu()->objectName()
                          : QStringLiteral("(no name)");
  }
  return QString::fromLatin1(o->metaObject()->className()) + QLatin1Char(' ') + name;
}

struct WindowCase {
  const char* class_name;
  // Components whose text the window itself fills, not the language file.
  QStringList filled_by_window;
};

const WindowCase kWindows[] = {
    {"TfrmMain", {}},
    {"TfrmLogin", {}},
    {"TfrmPassword", {}},
    {"TfrmChangePassword", {}},
    {"TfrmUserProfile", {}},
    // The product line: the program's name with its version.
    {"TfrmAbout", {QStringLiteral("lblProgramInfo")}},
    // The header labels come from the top frame's element.
    {"TfrmViewVoiceMail",
     {QStringLiteral("lblFrom"), QStringLiteral("lblTo"), QStringLiteral("lblSubject")}},
};

class WindowTextsTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    // The shipped files, from the source tree's lang/.
    language_.emplace(std::string(QOVRA_SOURCE_DIR) + "/", GetParam());
    file_ = qovra::CurrentLanguageFile();
  }
  void TearDown() override { language_.reset(); }

  std::unique_ptr<QWidget> Make(const std::string& class_name) {
    if (class_name == "TfrmMain") return std::make_unique<TfrmMain>(&tray_);
    if (class_name == "TfrmLogin") {
      auto login = std::make_unique<TfrmLogin>();
      login->SetUsLayoutSwitch([] {});
      return login;
    }
    if (class_name == "TfrmPassword") return std::make_unique<TfrmPassword>();
    if (class_name == "TfrmChangePassword") return std::make_unique<TfrmChangePassword>();
    if (class_name == "TfrmUserProfile") return std::make_unique<TfrmUserProfile>();
    if (class_name == "TfrmAbout") return std::make_unique<TfrmAbout>();
    if (class_name == "TfrmViewVoiceMail")
      return std::make_unique<TfrmViewVoiceMail>(TViewCommands{});
    return nullptr;
  }

  // Texts that count as the file's for a window: the messages (windows
  // fill some components from them) and every entry of its element.
  QSet<QString> FileTexts(const char* class_name) const {
    QSet<QString> texts;
    for (const auto& [key, text] : file_->Messages()) texts.insert(Plain(Q(text)));
    for (const qovra::TLanguageEntry& e : file_->Entries(class_name))
      texts.insert(Plain(Q(e.text)));
    return texts;
  }

  // Expects every text that window shows on the components picked to be
  // one of the file's, or to hold no words at all (a version number).
  void ExpectNoBuiltInText(QWidget* window, const WindowCase& w,
                           const std::function<bool(const QObject*)>& picked) const {
    const QSet<QString> file_texts = FileTexts(w.class_name);
    for (const ShownText& shown : ShownTexts(window)) {
      if (!picked(shown.object) || w.filled_by_window.contains(shown.object->objectName()))
        continue;
      if (!HasLetters(shown.text)) continue;
      EXPECT_TRUE(file_texts.contains(Plain(shown.text)))
          << Describe(shown.object).toStdString() << " shows \"" << shown.text.toStdString()
          << "\"";
    }
  }

  qovra::testing::ScopedFakeUi ui_;
  qovra::ui::testing::FakeTrayIcon tray_;
  std::optional<qovra::testing::ScopedProgramLanguage> language_;
  std::shared_ptr<const qovra::TLanguageFile> file_;
};

bool HasName(const QObject* o) {
  return !o->objectName().isEmpty();
}

// Per window: the Caption, every element naming a component, the caption
// kinds showing their element's text, and no built-in text left on the
// named components (the ones a language file can reach).
TEST_P(WindowTextsTest, WindowsShowTheFileTextsAndNamesMatchComponents) {
  ASSERT_TRUE(file_) << "missing or malformed: " << qovra::LanguageFilePath(GetParam());
  for (const WindowCase& w : kWindows) {
    SCOPED_TRACE(w.class_name);
    const std::vector<qovra::TLanguageEntry>& entries = file_->Entries(w.class_name);
    ASSERT_FALSE(entries.empty()) << "no element " << w.class_name;
    std::unique_ptr<QWidget> window = Make(w.class_name);
    ASSERT_TRUE(window);
    ASSERT_EQ(qovra::LanguageClassName(window.get()), QString::fromLatin1(w.class_name));

    for (const qovra::TLanguageEntry& e : entries) {
      const QString name = Q(e.name);
      if (name == QLatin1String("Caption")) {
        EXPECT_EQ(window->windowTitle(), Q(e.text));
        continue;
      }
      if (name == QLatin1String("Hint")) continue;
      QObject* component = FindByName(window.get(), name);
      if (!component) {
        ADD_FAILURE() << e.name << " names no component";
        continue;
      }
      if (auto* action = qobject_cast<QAction*>(component)) {
        EXPECT_EQ(action->text(), Q(e.text)) << e.name;
        if (e.has_hint) {
          EXPECT_EQ(action->toolTip(), Q(e.hint)) << e.name;
        }
      } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
        EXPECT_EQ(button->text(), Q(e.text)) << e.name;
      } else if (auto* label = qobject_cast<QLabel*>(component)) {
        const bool image = label->text().isEmpty() && !label->pixmap().isNull();
        EXPECT_EQ(image ? label->toolTip() : label->text(), Q(e.text)) << e.name;
      }
    }
    ExpectNoBuiltInText(window.get(), w, HasName);
  }
}

// What no element can reach yet: menu titles (ApplyLanguage does not set a
// QMenu's title) and captions of components without an object name (the
// edit menu's commands, the toolbar's show/hide command). Enable once the
// windows and ApplyLanguage cover them.
TEST_P(WindowTextsTest, MenuTitlesAndUnnamedCommandsShowTheFileTexts) {
  ASSERT_TRUE(file_);
  for (const WindowCase& w : kWindows) {
    SCOPED_TRACE(w.class_name);
    std::unique_ptr<QWidget> window = Make(w.class_name);
    ASSERT_TRUE(window);
    ExpectNoBuiltInText(window.get(), w, [](const QObject* o) { return !HasName(o); });
  }
}

// The width a push button's caption needs: its text (and icon) with the
// style's button margin and frame, without the style's least button width.
int CaptionWidth(const QPushButton* b) {
  int width = b->fontMetrics().size(Qt::TextShowMnemonic, b->text()).width();
  if (!b->icon().isNull()) width += b->iconSize().width() + 4;
  const QStyle* style = b->style();
  return width + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
         2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
}

// Every push button shown holds its caption whole, in either language.
TEST_P(WindowTextsTest, PushButtonsHoldTheirCaptionsWhole) {
  ASSERT_TRUE(file_);
  for (const WindowCase& w : kWindows) {
    SCOPED_TRACE(w.class_name);
    std::unique_ptr<QWidget> window = Make(w.class_name);
    ASSERT_TRUE(window);
    window->show();
    QCoreApplication::processEvents();
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
      // A button kept out of sight (the login window's Cancel) shows nothing.
      if (!b->isVisible() || b->width() == 0 || b->text().isEmpty()) continue;
      EXPECT_GE(b->width(), CaptionWidth(b))
          << Describe(b).toStdString() << " \"" << b->text().toStdString() << "\"";
    }
    window->hide();
  }
}

std::string LanguageName(const ::testing::TestParamInfo<int>& param) {
  return std::string(qovra::LanguageCode(param.param));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, WindowTextsTest, ::testing::Values(0, 1), LanguageName);

}  // namespace
