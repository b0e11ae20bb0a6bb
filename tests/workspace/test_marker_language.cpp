// Every text the built windows show comes from the language file: each
// shipped file is rewritten so that every message and every element text
// becomes a marker naming its key, the windows are built and shown with it,
// and any text with letters but no marker is a text written in the code.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
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
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/testing/fake_tray_icon.h"
#include "seam/fake_ui.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "support/marker_language.h"
#include "support/program_language.h"
#include "support/scratch_dir.h"

namespace {

const QString kMarkOpen = QStringLiteral("\u27E6");

std::string Marker(const std::string& key) {
  return qovra::testing::LanguageMarker(key);
}

struct Shown {
  std::string where;
  QString text;
};

std::string Where(const QObject* o, const char* what) {
  const QString name = o->objectName().isEmpty() ? QStringLiteral("(no name)") : o->objectName();
  return std::string(o->metaObject()->className()) + " " + name.toStdString() + " " + what;
}

// Every text a user can read on window: titles, captions, hints, place
// holders, menu titles and the header and cell texts of item views.
std::vector<Shown> ReadableTexts(QWidget* window) {
  std::vector<Shown> out;
  const auto add = [&out](const QObject* o, const char* what, const QString& text) {
    if (!text.isEmpty()) out.push_back({Where(o, what), text});
  };
  add(window, "title", window->windowTitle());
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* w : widgets) {
    add(w, "tool tip", w->toolTip());
    if (auto* l = qobject_cast<QLabel*>(w)) add(l, "text", l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) add(b, "text", b->text());
    if (auto* e = qobject_cast<QLineEdit*>(w)) add(e, "place holder", e->placeholderText());
    if (auto* m = qobject_cast<QMenu*>(w)) add(m, "title", m->title());
    if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
      const QAbstractItemModel* model = v->model();
      for (int c = 0; c < model->columnCount(); ++c)
        add(v, "header", model->headerData(c, Qt::Horizontal).toString());
      std::function<void(const QModelIndex&)> cells = [&](const QModelIndex& parent) {
        for (int r = 0; r < model->rowCount(parent); ++r) {
          for (int c = 0; c < model->columnCount(parent); ++c) {
            const QModelIndex index = model->index(r, c, parent);
            add(v, "cell", index.data().toString());
            add(v, "cell tool tip", index.data(Qt::ToolTipRole).toString());
          }
          cells(model->index(r, 0, parent));
        }
      };
      cells(QModelIndex());
    }
  }
  for (QAction* a : window->findChildren<QAction*>()) {
    add(a, "text", a->text());
    if (a->toolTip() != a->text() && a->toolTip() != QString(a->text()).remove(QLatin1Char('&')))
      add(a, "hint", a->toolTip());
    add(a, "status tip", a->statusTip());
  }
  return out;
}

bool HasLetters(const QString& text) {
  for (const QChar c : text)
    if (c.isLetter()) return true;
  return false;
}

// The walk itself: a window with one text of its own in each kind of place
// gives every one of them back.
TEST(MarkerLanguageWalk, ReadsEveryKindOfText) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("Title"));
  auto* label = new QLabel(QStringLiteral("Label"), &window);
  label->setToolTip(QStringLiteral("Label hint"));
  new QPushButton(QStringLiteral("Button"), &window);
  auto* edit = new QLineEdit(&window);
  edit->setPlaceholderText(QStringLiteral("Place holder"));
  auto* menu = new QMenu(QStringLiteral("Menu"), &window);
  auto* action = new QAction(QStringLiteral("Action"), &window);
  action->setToolTip(QStringLiteral("Action hint"));
  action->setStatusTip(QStringLiteral("Action status"));
  menu->addAction(action);
  auto* tree = new QTreeWidget(&window);
  tree->setHeaderLabels({QStringLiteral("Header")});
  auto* item = new QTreeWidgetItem(tree, {QStringLiteral("Cell")});
  new QTreeWidgetItem(item, {QStringLiteral("Child cell")});

  QStringList read;
  for (const Shown& s : ReadableTexts(&window)) read << s.text;
  for (const char* text :
       {"Title", "Label", "Label hint", "Button", "Place holder", "Menu", "Action", "Action hint",
        "Action status", "Header", "Cell", "Child cell"}) {
    EXPECT_TRUE(read.contains(QString::fromLatin1(text))) << text;
  }
}

class MarkerLanguageTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const std::string program_dir = dir_.File("prog") + "/";
    ASSERT_TRUE(qovra::testing::WriteMarkerLanguageFile(GetParam(), program_dir));
    language_.emplace(program_dir, GetParam());
    ASSERT_EQ(qovra::GetMsg("msgConnectionError"), Marker("msgConnectionError"));
  }
  void TearDown() override { language_.reset(); }

  // Shows window, lets it paint and expects every readable text to carry
  // a marker (texts without letters, such as a version, are data).
  void ExpectOnlyMarkedTexts(QWidget* window) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(20);
    int checked = 0;
    for (const Shown& s : ReadableTexts(window)) {
      ++checked;
      if (!HasLetters(s.text)) continue;
      EXPECT_TRUE(s.text.contains(kMarkOpen))
          << s.where << " shows \"" << s.text.toStdString() << "\", not from the language file";
    }
    EXPECT_GT(checked, 0);
    window->hide();
  }

  qovra::testing::ScratchDir dir_;
  qovra::testing::ScopedFakeUi ui_;
  qovra::ui::testing::FakeTrayIcon tray_;
  std::optional<qovra::testing::ScopedProgramLanguage> language_;
};

TEST_P(MarkerLanguageTest, MainWindowShowsOnlyFileTexts) {
  TfrmMain main(&tray_);
  ExpectOnlyMarkedTexts(&main);
  // The search line's grey hint.
  EXPECT_EQ(main.frameSearchEdit1->eSearch()->placeholderText().toStdString(),
            Marker("msgSearchMails"));
}

TEST_P(MarkerLanguageTest, LoginWindowShowsOnlyFileTexts) {
  TfrmLogin login;
  login.SetUsLayoutSwitch([] {});
  ExpectOnlyMarkedTexts(&login);
  // The login field's balloons, shown on a wrong character or paste.
  for (const QString& balloon : {login.eLogin->CharErrorTitle(), login.eLogin->CharErrorText(),
                                 login.eLogin->PasteErrorTitle(), login.eLogin->PasteErrorText()}) {
    EXPECT_TRUE(balloon.startsWith(kMarkOpen)) << balloon.toStdString();
  }
}

TEST_P(MarkerLanguageTest, PasswordPromptShowsOnlyFileTexts) {
  TfrmPassword prompt;
  ExpectOnlyMarkedTexts(&prompt);
}

TEST_P(MarkerLanguageTest, AccountDialogsShowOnlyFileTexts) {
  TfrmUserProfile profile;
  ExpectOnlyMarkedTexts(&profile);
  // Offline after a key-device login: the reset text and the caption.
  qovra::Session.State = 2;
  qovra::Session.OfflinePasswordHash = {};
  TfrmChangePassword change;
  ExpectOnlyMarkedTexts(&change);
  EXPECT_EQ(change.eCurPassword->text().toStdString(), Marker("msgResetOfflinePassword"));
  EXPECT_EQ(change.windowTitle().toStdString(), Marker("msgChangeOfflinePassword"));
  qovra::Session.Clear();
}

TEST_P(MarkerLanguageTest, AboutBoxShowsOnlyFileTexts) {
  TfrmAbout about;
  ExpectOnlyMarkedTexts(&about);
}

std::string LanguageName(const ::testing::TestParamInfo<int>& param) {
  return std::string(qovra::LanguageCode(param.param));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, MarkerLanguageTest, ::testing::Values(0, 1), LanguageName);

}  // namespace
