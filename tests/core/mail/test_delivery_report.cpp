// The delivery report's rows and its fixed-width text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "mail/delivery_report.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

using qovra::TMailReportRow;

constexpr char kZero[] = "0000-00-00 00:00:00";

std::string Rule() {
  return std::string(83, '-');
}

class DeliveryReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qovra::ClearMsgTable();
    qovra::SetMsg("msgMailReportTitle", "Отчёт о доставке");
    qovra::SetMsg("msgSender", "Отправитель");
    qovra::SetMsg("msgMailSubject", "Тема");
    qovra::SetMsg("msgSendTime", "Время отправки");
    qovra::SetMsg("msgRecipients", "Получатели");
    qovra::SetMsg("msgReceived", "Получено");
    qovra::SetMsg("msgRead", "Прочитано");
    ASSERT_TRUE(qovra::TryEncodeDateTime(2024, 3, 5, 14, 7, 9, 0, sent));
  }
  void TearDown() override { qovra::ClearMsgTable(); }
  qovra::TDateTime sent = 0;
};

// Pads UTF-8 text to width characters (the Cyrillic labels are 2 bytes each).
std::string Pad(const std::string& s, size_t width) {
  std::u16string w = qovra::Utf8ToUtf16(s);
  w.append(width - w.size(), u' ');
  return qovra::Utf16ToUtf8(w);
}

TEST_F(DeliveryReportTest, RowsFromTheDatabaseOrderedByAddressWithDashForNoTime) {
  qovra::testing::ScratchDir dir;
  std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir.File("ecm.edb"));
  qovra::SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("ecm.edb"))) << db.LastError();
  qovra::TMailMessage m;
  m.Uuid = "0123456789ABCDEF0123456789ABCDEF";
  m.FromAddress = "alice@localhost";
  m.FolderId = qovra::kFolderSent;
  m.SentTime = sent;
  m.Recipients.Add("bob@localhost");
  m.Recipients.Add("anna@localhost");
  const int32_t id = qovra::SaveMailToDatabase(db, m, "alice@localhost", nullptr, nullptr, false);
  ASSERT_GT(id, 0) << db.LastError();
  ASSERT_TRUE(
      db.Exec("UPDATE ecm_recipients SET received_time='2024-03-05 14:10:00' "
              "WHERE to_address='anna@localhost'"));

  std::vector<TMailReportRow> rows;
  ASSERT_TRUE(qovra::LoadMailReportRows(db, id, rows)) << db.LastError();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Address, "anna@localhost");
  EXPECT_EQ(rows[1].Address, "bob@localhost");

  const std::string text =
      qovra::Utf16ToUtf8(qovra::MailReportText("alice@localhost", u"Привет", sent, rows));
  const std::string expected =
      "Отчёт о доставке\r\n\r\n"
      "Отправитель: alice@localhost\r\n"
      "Тема: Привет\r\n"
      "Время отправки: 2024.03.05 14:07:09\r\n" +
      Rule() + "\r\n" + Pad("Получатели", 35) + Pad("Получено", 24) + "Прочитано\r\n" + Rule() +
      "\r\n" + Pad("anna@localhost", 35) + Pad("2024-03-05 14:10:00", 24) + "-\r\n" +
      Pad("bob@localhost", 35) + Pad("-", 24) + "-\r\n" + Rule();
  EXPECT_EQ(text, expected);

  std::vector<TMailReportRow> none;
  EXPECT_TRUE(qovra::LoadMailReportRows(db, id + 100, none));
  EXPECT_TRUE(none.empty());
  db.Close();
  EXPECT_FALSE(qovra::LoadMailReportRows(db, id, none));
}

TEST_F(DeliveryReportTest, LongCellsAreCutSoEveryRowKeepsItsColumns) {
  qovra::SetMsg("msgRecipients", std::string(40, 'R'));
  qovra::SetMsg("msgReceived", "Получено получателем письма");  // 27 characters
  const std::string long_address = std::string(40, 'x') + "@localhost";
  const std::vector<TMailReportRow> rows = {
      {long_address, kZero, "2024-03-05 14:10:00", "2024-03-05 14:11:00"},
      {std::string(34, 'y'), kZero, kZero, kZero},  // fits with a blank after it
      {std::string(35, 'z'), kZero, kZero, kZero},  // fills its column: never cut
      {std::string(36, 'w'), kZero, kZero, kZero},  // one too long
  };
  const std::u16string text = qovra::MailReportText("a@b", u"s", sent, rows);
  std::vector<std::u16string> lines;
  for (size_t start = 0;;) {
    const size_t end = text.find(u"\r\n", start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::u16string::npos) break;
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 13u);
  const std::u16string head = lines[6];
  EXPECT_EQ(head, std::u16string(33, u'R') + u"… " + u"Получено получателем п… " + u"Прочитано");
  EXPECT_EQ(lines[8], std::u16string(33, u'x') + u"… " + u"2024-03-05 14:10:00" +
                          std::u16string(5, u' ') + u"2024-03-05 14:11:00");
  EXPECT_EQ(lines[9], std::u16string(34, u'y') + u" " + u"-" + std::u16string(23, u' ') + u"-");
  EXPECT_EQ(lines[10], std::u16string(35, u'z') + u"-" + std::u16string(23, u' ') + u"-");
  EXPECT_EQ(lines[11], std::u16string(33, u'w') + u"… " + u"-" + std::u16string(23, u' ') + u"-");
  // Every column starts where the heads say.
  for (size_t i : {6u, 8u, 9u, 10u, 11u}) {
    EXPECT_NE(lines[i][35], u' ') << i;
    EXPECT_EQ(lines[i][58], u' ') << i;
    EXPECT_NE(lines[i][59], u' ') << i;
  }
  for (size_t i : {6u, 8u, 9u, 11u}) EXPECT_EQ(lines[i][34], u' ') << i;
}

TEST(ReportTimeCell, ZeroOrEmptyTimeIsADash) {
  EXPECT_EQ(qovra::ReportTimeCell("0000-00-00 00:00:00"), "-");
  EXPECT_EQ(qovra::ReportTimeCell(""), "-");
  EXPECT_EQ(qovra::ReportTimeCell("2024-03-05 14:10:00"), "2024-03-05 14:10:00");
}

}  // namespace
