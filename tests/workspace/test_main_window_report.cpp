// The delivery report and printing from the main window's list, offscreen,
// on a copy of the real mail database and real containers; printing goes
// to PDF files through the print dialog's stand-in.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "mailcommands/mail_file_fixture.h"
#include "qovra/workspace/mail_report.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/print_text.h"
#include "test_main_window_fixture.h"

namespace qovra_test {
namespace {

namespace fs = std::filesystem;

constexpr char kOwn[] = "alice@127.0.0.1";

// What one print job left: the dialog's owner, the job's title and the
// PDF file's page count and font names.
struct Printed {
  int jobs = 0;
  QWidget* owner = nullptr;  // may be gone by now
  QString owner_class;
  QString title;
  int pages = -1;
  QStringList fonts;
};

// Routes the print dialog to a PDF file and records the job.
class PdfPrinter {
 public:
  explicit PdfPrinter(std::string path) : path_(std::move(path)) {
    qovra::ui::SetPrintDialogHookForTesting([this](QPrinter& printer, QWidget* owner) {
      ++seen_.jobs;
      seen_.owner = owner;
      seen_.owner_class = owner ? QString::fromLatin1(owner->metaObject()->className()) : QString();
      seen_.title = printer.docName();
      fs::remove(path_);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(path_));
      return true;
    });
  }
  ~PdfPrinter() { qovra::ui::SetPrintDialogHookForTesting({}); }
  PdfPrinter(const PdfPrinter&) = delete;
  PdfPrinter& operator=(const PdfPrinter&) = delete;

  // The last job, with what its file holds.
  Printed Last() const {
    Printed p = seen_;
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly)) return p;
    const QString pdf = QString::fromLatin1(file.readAll());
    const QRegularExpression count(QStringLiteral("/Type\\s*/Pages\\b[^>]*?/Count\\s+(\\d+)"),
                                   QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = count.match(pdf);
    p.pages = m.hasMatch() ? m.captured(1).toInt() : -1;
    const QRegularExpression font(QStringLiteral("/BaseFont\\s*/([A-Za-z0-9+#-]+)"));
    for (auto it = font.globalMatch(pdf); it.hasNext();) p.fonts << it.next().captured(1);
    return p;
  }

 private:
  std::string path_;
  Printed seen_;
};

// A face of the family: "Mono" (Courier New or its stand-in), "Serif"
// (Times New Roman or its stand-in).
bool HasFace(const QStringList& fonts, const char* kind) {
  const QString k = QString::fromLatin1(kind);
  for (const QString& f : fonts) {
    if (f.contains(k, Qt::CaseInsensitive)) return true;
    if (k == QStringLiteral("Mono") && f.contains(QStringLiteral("Courier"))) return true;
    if (k == QStringLiteral("Serif") && f.contains(QStringLiteral("Times"))) return true;
  }
  return false;
}

class ReportAndPrintTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    for (const char* key :
         {"msgMailReportTitle", "msgSender", "msgMailSubject", "msgSendTime", "msgRecipients",
          "msgReceived", "msgRead", "msgSubject", "msgDate", "msgAttachments",
          "msgMailContentNotFound", "msgMailFileCorrupted", "msgParsingMail", "msgReady"})
      qovra::SetMsg(key, key);
    ASSERT_NO_FATAL_FAILURE(MakeUser(kOwn));
    Window().show();
  }

  std::string UuidOf(int32_t id) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare("SELECT uuid FROM ecm_mails WHERE id=?");
    st.Bind(1, id);
    return st.Step() == qovra::SqliteStatement::StepResult::Row ? st.ColumnText(0) : "";
  }
  void SetRecipientTimes(int32_t id, const std::string& to, const std::string& received,
                         const std::string& read) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare(
        "UPDATE ecm_recipients SET received_time=?,read_time=? WHERE mail_id=? AND to_address=?");
    st.Bind(1, received);
    st.Bind(2, read);
    st.Bind(3, id);
    st.Bind(4, to);
    ASSERT_TRUE(st.Run());
  }
  // Selects the list row of mail id in folder.
  void SelectMail(int32_t folder, int32_t id) {
    Window().SelectFolder(folder);
    for (int r = 0; r < Window().model->Count(); ++r)
      if (Window().model->Row(r).Id == id) SelectRows({r});
  }
};

// What the report dialog showed.
struct Report {
  bool shown = false;
  QString title;
  std::vector<QStringList> rows;
  QString text;
  bool scrolls = true;
};

TEST_F(ReportAndPrintTest, DeliveryReportListsRecipientsByAddress) {
  // 2026-12-10 09:15:42
  const int32_t id = Store(qovra::kFolderSent, kOwn, "bob@localhost;ann@127.0.0.1", u"plan",
                           qovra::mfSent, 1, 46366.38590277778);
  ASSERT_NO_FATAL_FAILURE(
      SetRecipientTimes(id, "bob@localhost", "2026-12-10 09:16:02", "2026-12-10 09:20:11"));
  ASSERT_NO_FATAL_FAILURE(
      SetRecipientTimes(id, "ann@127.0.0.1", "2026-12-10 09:16:05", "0000-00-00 00:00:00"));
  SelectMail(qovra::kFolderSent, id);
  ASSERT_TRUE(Window().alMain->acMailReport->isEnabled());

  const std::string pdf = dir_.File("report.pdf");
  PdfPrinter printer(pdf);
  Report seen;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    auto* dialog = qobject_cast<TfrmMailReport*>(QApplication::activeModalWidget());
    if (!dialog) return;
    seen.shown = true;
    seen.title = dialog->lblReportTitle->toPlainText();
    for (int i = 0; i < dialog->lvReport->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = dialog->lvReport->topLevelItem(i);
      seen.rows.push_back({item->text(0), item->text(1), item->text(2)});
    }
    seen.text = dialog->ReportText;
    // Every column and heading line in sight, no scrolling.
    QApplication::processEvents();
    seen.scrolls = dialog->lvReport->horizontalScrollBar()->maximum() > 0 ||
                   dialog->lblReportTitle->verticalScrollBar()->maximum() > 0;
    dialog->btnPrint->click();
    dialog->btnOK->click();
  });
  Window().alMain->acMailReport->trigger();

  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, QStringLiteral("msgSender: alice@127.0.0.1\nmsgMailSubject: plan\n"
                                       "msgSendTime: 2026.12.10 09:15:42"));
  const std::vector<QStringList> rows = {
      {QStringLiteral("ann@127.0.0.1"), QStringLiteral("2026-12-10 09:16:05"), QStringLiteral("-")},
      {QStringLiteral("bob@localhost"), QStringLiteral("2026-12-10 09:16:02"),
       QStringLiteral("2026-12-10 09:20:11")}};
  EXPECT_EQ(seen.rows, rows);
  EXPECT_FALSE(seen.scrolls);
  const QString ann_line = QStringLiteral("ann@127.0.0.1").leftJustified(35) +
                           QStringLiteral("2026-12-10 09:16:05").leftJustified(24) +
                           QStringLiteral("-\r\n");
  EXPECT_TRUE(seen.text.startsWith(QStringLiteral("msgMailReportTitle\r\n\r\nmsgSender: ")))
      << seen.text.toStdString();
  EXPECT_TRUE(seen.text.contains(ann_line)) << seen.text.toStdString();
  EXPECT_LT(seen.text.indexOf(ann_line), seen.text.indexOf(QStringLiteral("bob@localhost")));

  // Print: the report in the fixed-width face, titled with the dialog's
  // caption, over the dialog.
  const Printed printed = printer.Last();
  EXPECT_EQ(printed.jobs, 1);
  EXPECT_EQ(printed.owner_class, QStringLiteral("TfrmMailReport"));
  EXPECT_EQ(printed.pages, 1);
  EXPECT_TRUE(HasFace(printed.fonts, "Mono")) << printed.fonts.join(u' ').toStdString();
  EXPECT_FALSE(HasFace(printed.fonts, "Serif")) << printed.fonts.join(u' ').toStdString();
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  // A mail without recipient rows: no dialog.
  const int32_t draft = Store(qovra::kFolderDrafts, kOwn, "bob@localhost", u"draft");
  {
    qovra::SqliteStatement st = qovra::MailDb.Prepare("DELETE FROM ecm_recipients WHERE mail_id=?");
    st.Bind(1, draft);
    ASSERT_TRUE(st.Run());
  }
  SelectMail(qovra::kFolderDrafts, draft);
  bool dialog_shown = false;
  QObject guard2;
  QTimer::singleShot(0, &guard2, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      dialog_shown = true;
      modal->close();
    }
  });
  EXPECT_FALSE(Window().acMailReportExecute());
  EXPECT_FALSE(dialog_shown);
}

TEST_F(ReportAndPrintTest, PrintFromTheList) {
  enum class File { Container, Missing, Corrupt, EncipheredOnly, EncipheredAndPlain };
  const struct {
    const char* what;
    uint16_t flags;
    File file;
    std::vector<std::string> shown;
    bool printed;
  } cases[] = {
      {"mail", qovra::mfReceived, File::Container, {}, true},
      {"missing file", qovra::mfReceived, File::Missing, {"msgMailContentNotFound"}, false},
      {"corrupt file", qovra::mfReceived, File::Corrupt, {"msgMailFileCorrupted"}, false},
      {"administrative mail",
       qovra::mfReceived | qovra::mfAdminOnly,
       File::EncipheredOnly,
       {"msgMailContentNotFound"},
       false},
      // A plain copy beside it (as an earlier send kept one) is not read.
      {"administrative mail with a plain copy",
       qovra::mfReceived | qovra::mfAdminOnly,
       File::EncipheredAndPlain,
       {"msgMailContentNotFound"},
       false},
      {"voice mail", qovra::mfReceived | qovra::mfVoice, File::Container, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MailFileSpec spec;
    spec.Subject = u"отчёт";
    spec.Body = u"first line\r\nsecond line";
    const int32_t id = Store(qovra::kFolderInbox, spec.From, kOwn, spec.Subject, c.flags);
    const std::string base = qovra::MessagesDir + UuidOf(id);
    switch (c.file) {
      case File::Container:
        ASSERT_TRUE(WriteMailFile(base + ".emz", spec));
        break;
      case File::Missing:
        break;
      case File::Corrupt:
        std::ofstream(base + ".emz") << "not a mail";
        break;
      case File::EncipheredOnly:
        ASSERT_TRUE(WriteMailFile(base + ".eme", spec));
        break;
      case File::EncipheredAndPlain:
        ASSERT_TRUE(WriteMailFile(base + ".eme", spec));
        ASSERT_TRUE(WriteMailFile(base + ".emz", spec));
        break;
    }
    SelectMail(qovra::kFolderInbox, id);
    ui_->messages.clear();
    const std::string pdf = dir_.File(std::string(c.what) + ".pdf");
    PdfPrinter printer(pdf);
    EXPECT_EQ(Window().acMailPrintExecute(), c.printed);
    EXPECT_EQ(Shown(), c.shown);
    const Printed printed = printer.Last();
    EXPECT_EQ(printed.jobs, c.printed ? 1 : 0);
    EXPECT_EQ(fs::exists(pdf), c.printed);
    if (c.printed) {
      EXPECT_EQ(printed.owner, &Window());
      EXPECT_EQ(printed.title, QStringLiteral("отчёт"));
      EXPECT_EQ(printed.pages, 1);
      EXPECT_TRUE(HasFace(printed.fonts, "Serif")) << printed.fonts.join(u' ').toStdString();
    }
    // The status line is ready again.
    EXPECT_EQ(Window().pnlStatusBar->lblStatus->text().toStdString(), qovra::GetMsg("msgReady"));
  }
}

}  // namespace
}  // namespace qovra_test
