// Every text the address book's windows show comes from the language file:
// each shipped file is rewritten so that every text becomes a marker naming
// its key, the windows are shown with it, and a text with letters but no
// marker is a text written in the code.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <optional>
#include <string>

#include "base/messages.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/addressbook/dup_dialog.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/ui/widgets.h"
#include "seam/fake_ui.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "store/sqlite_db.h"
#include "support/marker_language.h"
#include "support/program_language.h"
#include "support/scratch_dir.h"

namespace {

const QString kMarkOpen = QStringLiteral("\u27E6");

std::string Marker(const std::string& key) {
  return qovra::testing::LanguageMarker(key);
}

// Titles, captions, place holders and cell texts with letters but no marker.
QStringList UnmarkedTexts(QWidget* window) {
  QStringList unmarked;
  const auto check = [&](const QString& where, const QString& text) {
    bool letters = false;
    for (const QChar c : text) letters = letters || c.isLetter();
    if (letters && !text.contains(kMarkOpen)) unmarked << where + QStringLiteral(": ") + text;
  };
  check(QStringLiteral("title"), window->windowTitle());
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (auto* l = qobject_cast<QLabel*>(w)) check(w->objectName(), l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) check(w->objectName(), b->text());
    if (auto* e = qobject_cast<QLineEdit*>(w)) check(w->objectName(), e->placeholderText());
    if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
      for (int r = 0; r < v->model()->rowCount(); ++r) {
        check(w->objectName(), v->model()->index(r, 0).data().toString());
      }
    }
  }
  return unmarked;
}

class AddressBookTexts : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const std::string program_dir = dir_.File("prog") + "/";
    ASSERT_TRUE(qovra::testing::WriteMarkerLanguageFile(GetParam(), program_dir));
    language_.emplace(program_dir, GetParam());
    audio_->output_devices = 0;
  }
  void TearDown() override { language_.reset(); }
  void ExpectOnlyMarkedTexts(QWidget* window) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(UnmarkedTexts(window), QStringList()) << window->metaObject()->className();
    window->hide();
  }

  qovra::testing::ScratchDir dir_;
  qovra::testing::ScopedFakeUi ui_;
  qovra::ui::testing::ScopedFakeAudio audio_;
  std::optional<qovra::testing::ScopedProgramLanguage> language_;
};

TEST_P(AddressBookTexts, EveryWindowShowsOnlyFileTexts) {
  qovra::SqliteDb closed;
  TfrmContactsList picker(closed);
  picker.Prepare(QString());  // the root alone: msgAll
  ExpectOnlyMarkedTexts(&picker);
  EXPECT_EQ(picker.windowTitle().toStdString(), Marker("TfrmContactsList.Caption"));

  TfrmContactsList unknown(closed);
  ExpectOnlyMarkedTexts(&unknown);
  EXPECT_EQ(unknown.lblMessage->text().toStdString(), Marker("TfrmContactsList.lblMessage"));

  TfrmNewAddr contact(closed);
  ExpectOnlyMarkedTexts(&contact);
  EXPECT_EQ(contact.cbCompany->lineEdit()->placeholderText().toStdString(), Marker("msgCompany"));

  TfrmNewGroup group;
  ExpectOnlyMarkedTexts(&group);

  TfrmDupMsg dup;
  dup.Prepare(nullptr, QString::fromStdString(qovra::GetMsg("msgUpdateContactInfoAs")));
  dup.FinishSlide();
  ExpectOnlyMarkedTexts(&dup);
  EXPECT_EQ(dup.btnSkipAll->text().toStdString(), Marker("TfrmDupMsg.btnSkipAll"));

  TfrmAddrBook book(closed);
  book.Prepare();
  ExpectOnlyMarkedTexts(&book);
  EXPECT_EQ(book.Model()->headerData(1, Qt::Horizontal).toString().toStdString(),
            Marker("msgContactEmail"));
  QStringList unmarked;
  for (QAction* a : book.findChildren<QAction*>())
    if (!a->text().isEmpty() && !a->text().contains(kMarkOpen))
      unmarked << a->objectName() + a->text();
  for (QMenu* m : book.findChildren<QMenu*>())
    if (!m->title().isEmpty() && !m->title().contains(kMarkOpen)) unmarked << m->objectName();
  EXPECT_EQ(unmarked, QStringList());
}

std::string LanguageName(const ::testing::TestParamInfo<int>& param) {
  return std::string(qovra::LanguageCode(param.param));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, AddressBookTexts, ::testing::Values(0, 1), LanguageName);

}  // namespace
