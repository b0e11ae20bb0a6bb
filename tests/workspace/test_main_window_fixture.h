// Shared set-up of the main window tests: a user folder with its mail
// database (a copy of the template, or any file the test names), a logged-in
// session, the fake seams (messages, audio, tray) and mails stored the way
// the program stores them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/address_list.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/time_stamp.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/testing/fake_tray_icon.h"
#include "seam/fake_ui.h"
#include "settings/settings.h"
#include "store/mail_db.h"
#include "support/scratch_dir.h"

namespace qovra_test {

class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // No language file: the window keeps the messages the tests set,
    // whatever folder the test runs from.
    saved_program_dir_ = qovra::ProgramDir;
    qovra::ProgramDir = dir_.path() + "/";
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::ClearMsgTable();
    qovra::SetMsg("msgFunctionNotAvailable", "not yet: %s");
    qovra::SetMsg("msgNewMailNotice", "%d new mails");
    qovra::SetMsg("msgFrom", "From");
    qovra::SetMsg("msgTo", "To");
    qovra::SetMsg("msgDownloadingMail", "mail %d (%s) of %d (%s)");
    qovra::SetMsg("msgProcessingMail", "processing %d of %d");
  }
  void TearDown() override {
    window_.reset();
    qovra::ProgramDir = saved_program_dir_;
    qovra::MailDb.Close();
    qovra::UserDir.clear();
    qovra::MessagesDir.clear();
    qovra::SetTempFolder("");
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::ClearMsgTable();
  }

  // The user's folder for address, with messages/ and temp/, and its mail
  // database copied from db_source (default: the template).
  void MakeUser(const std::string& address, std::string db_source = {}) {
    namespace fs = std::filesystem;
    qovra::MailDb.Close();
    qovra::UserDir = dir_.File(address) + "/";
    fs::create_directories(qovra::UserDir + "messages");
    fs::create_directories(qovra::UserDir + "temp");
    qovra::MessagesDir = qovra::UserDir + "messages/";
    qovra::SetTempFolder(qovra::UserDir + "temp/");
    if (db_source.empty()) db_source = std::string(QOVRA_BIN_DIR) + "/ecm.edb";
    const std::string db = qovra::UserDir + "ecm.edb";
    if (!fs::exists(db)) fs::copy_file(db_source, db);
    ASSERT_TRUE(qovra::MailDb.Open(db));
    qovra::Session.OwnContact.Email = address;
    if (qovra::Session.State == 0) qovra::Session.State = 1;
  }

  // Stores a mail in folder and returns its row id.
  int32_t Store(int32_t folder, const std::string& from, const std::string& to,
                const std::u16string& subject, uint16_t flags = 0, uint8_t priority = 1,
                double sent = 45000.0) {
    static int n = 0;
    qovra::TMailMessage m;
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xE000 + ++n);
    m.Uuid = uuid;
    m.FromAddress = from;
    EXPECT_TRUE(qovra::SplitAddressList(m.Recipients, to, ';'));
    m.Subject = subject;
    m.FolderId = folder;
    m.Flags = flags;
    m.Priority = priority;
    m.SentTime = sent;
    const int32_t id = qovra::SaveMailToDatabase(qovra::MailDb, m, qovra::Session.OwnContact.Email,
                                                 nullptr, nullptr, false);
    EXPECT_GT(id, 0);
    return id;
  }

  TfrmMain& Window() {
    if (!window_) window_ = std::make_unique<TfrmMain>(&tray_);
    return *window_;
  }
  void NewWindow() {
    window_.reset();
    window_ = std::make_unique<TfrmMain>(&tray_);
  }

  // Selects exactly the given list rows.
  void SelectRows(const std::vector<int>& rows) {
    QItemSelectionModel* sel = Window().lvMain->selectionModel();
    sel->clearSelection();
    for (int r : rows)
      sel->select(Window().model->index(r, 0),
                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  // The user's clicks: on a folder of the tree, on a row of the list as it
  // stands (selecting it alone).
  void ClickFolder(int32_t folder) {
    QTreeWidgetItem* node = Window().FindFolderNode(folder);
    ASSERT_NE(node, nullptr);
    const QRect rect = Window().tvMain->visualItemRect(node);
    QTest::mouseClick(Window().tvMain->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  }
  void ClickRow(int row) {
    const QRect rect = Window().lvMain->visualRect(Window().model->index(row, 0));
    ASSERT_TRUE(rect.isValid()) << "row " << row << " is not on screen";
    QTest::mouseClick(Window().lvMain->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  }
  // The list row of uuid as it stands; -1 when the list shows none.
  int RowOf(const std::string& uuid) {
    for (int r = 0; r < Window().model->Count(); ++r)
      if (Window().model->Row(r).Uuid == uuid) return r;
    return -1;
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  qovra::testing::ScopedFakeUi ui_;
  qovra::ui::testing::ScopedFakeAudio audio_;
  qovra::ui::testing::FakeTrayIcon tray_;
  qovra::testing::ScratchDir dir_;
  std::unique_ptr<TfrmMain> window_;
  std::string saved_program_dir_;
};

}  // namespace qovra_test
