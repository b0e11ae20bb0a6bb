// The delivery report and printing from the main window's list, offscreen,
// on a copy of the real mail database and real containers; printing goes
// to PDF files through the print dialog's stand-in.
#include <QApplication>
#include <QFile>
#include <QPageSize>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRectF>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
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
  explicit PdfPrinter(std::string path, QPageSize::PageSizeId page = QPageSize::A4)
      : path_(std::move(path)) {
    qovra::ui::SetPrintDialogHookForTesting([this, page](QPrinter& printer, QWidget* owner) {
      ++seen_.jobs;
      seen_.owner = owner;
      seen_.owner_class = owner ? QString::fromLatin1(owner->metaObject()->className()) : QString();
      seen_.title = printer.docName();
      fs::remove(path_);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(path_));
      printer.setPageSize(QPageSize(page));  // as chosen in the dialog's page setup
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

// One word of a printed page and its box, in points from the top left.
struct PdfWord {
  QString text;
  QRectF box;
};
struct PdfPage {
  QSizeF size;
  std::vector<PdfWord> words;
};

// The pages of a PDF file with their words, as pdftotext -bbox
// (poppler-utils) finds them; empty when it cannot read the file.
std::vector<PdfPage> PdfWords(const std::string& pdf) {
  QProcess run;
  run.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-bbox"), QString::fromStdString(pdf), QStringLiteral("-")});
  if (!run.waitForFinished(20000) || run.exitCode() != 0) return {};
  const QString html = QString::fromUtf8(run.readAllStandardOutput());
  const QRegularExpression item(QStringLiteral(
      R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" )re"
      R"re(xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
  std::vector<PdfPage> pages;
  for (auto it = item.globalMatch(html); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    if (!m.captured(1).isEmpty()) {
      pages.push_back({QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()), {}});
    } else if (!pages.empty()) {
      const QPointF top_left(m.captured(3).toDouble(), m.captured(4).toDouble());
      const QPointF bottom_right(m.captured(5).toDouble(), m.captured(6).toDouble());
      pages.back().words.push_back({m.captured(7), QRectF(top_left, bottom_right)});
    }
  }
  return pages;
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

// Printed pages keep the usual margins (15 mm) on every side, on A4 and on
// Letter: a mail printed from the list, its long lines wrapped inside them
// over several pages, and the delivery report printed from its dialog, whose
// 83-column rules still fit one line each.
TEST_F(ReportAndPrintTest, PrintedPagesKeepTheirMargins) {
  ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      << "pdftotext is missing: scripts/install-deps.sh installs poppler-utils";
  constexpr double kMargin = 15.0 * 72.0 / 25.4;  // points
  constexpr double kSlack = 1.0;                  // the font's box around the glyphs
  enum class What { ListMail, Report };
  const struct {
    const char* what;
    What source;
    QPageSize::PageSizeId page;
  } cases[] = {
      {"mail on A4", What::ListMail, QPageSize::A4},
      {"mail on Letter", What::ListMail, QPageSize::Letter},
      {"report on A4", What::Report, QPageSize::A4},
      {"report on Letter", What::Report, QPageSize::Letter},
  };
  MailFileSpec spec;
  spec.Subject = u"margins";
  std::u16string body;
  for (int i = 0; i < 60; ++i) body += u"A sentence long enough to fill the printed line. ";
  for (int i = 1; i <= 70; ++i) {
    body += u"\r\nline ";
    for (const char digit : std::to_string(i)) body += static_cast<char16_t>(digit);
  }
  spec.Body = body;
  const int32_t mail = Store(qovra::kFolderInbox, spec.From, kOwn, spec.Subject, qovra::mfReceived);
  ASSERT_TRUE(WriteMailFile(qovra::MessagesDir + UuidOf(mail) + ".emz", spec));
  const int32_t sent = Store(qovra::kFolderSent, kOwn, "bob@localhost;ann@127.0.0.1", u"plan",
                             qovra::mfSent, 1, 46366.38590277778);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string pdf = dir_.File(std::string(c.what) + ".pdf");
    PdfPrinter printer(pdf, c.page);
    if (c.source == What::ListMail) {
      SelectMail(qovra::kFolderInbox, mail);
      Window().alMain->acMailPrint->trigger();
    } else {
      SelectMail(qovra::kFolderSent, sent);
      QObject guard;
      QTimer::singleShot(0, &guard, [] {
        auto* dialog = qobject_cast<TfrmMailReport*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->btnPrint->click();
        dialog->btnOK->click();
      });
      Window().alMain->acMailReport->trigger();
    }
    ASSERT_EQ(printer.Last().jobs, 1);

    const std::vector<PdfPage> pages = PdfWords(pdf);
    ASSERT_FALSE(pages.empty());
    if (c.source == What::ListMail) {
      EXPECT_GT(pages.size(), 1u);
    }
    const QSizeF paper = QPageSize(c.page).size(QPageSize::Point);
    const QRectF inside(kMargin - kSlack, kMargin - kSlack,
                        paper.width() - 2 * kMargin + 2 * kSlack,
                        paper.height() - 2 * kMargin + 2 * kSlack);
    int rules = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
      SCOPED_TRACE(p);
      EXPECT_NEAR(pages[p].size.width(), paper.width(), 1.0);
      ASSERT_FALSE(pages[p].words.empty());
      // The text starts at the margins' corner.
      EXPECT_NEAR(pages[p].words.front().box.left(), kMargin, kSlack);
      EXPECT_NEAR(pages[p].words.front().box.top(), kMargin, 2 * kSlack);
      double right = 0;
      for (const PdfWord& w : pages[p].words) {
        EXPECT_TRUE(inside.contains(w.box))
            << w.text.toStdString() << " at " << w.box.left() << "," << w.box.top() << " - "
            << w.box.right() << "," << w.box.bottom();
        right = std::max(right, w.box.right());
        if (w.text == QString(83, QLatin1Char('-'))) ++rules;
      }
      // Wrapped lines use the width up to the right margin.
      if (c.source == What::ListMail && p == 0) {
        EXPECT_GT(right, paper.width() - kMargin - 40) << right;
      }
    }
    if (c.source == What::Report) {
      EXPECT_EQ(rules, 3);
    }
  }
}

}  // namespace
}  // namespace qovra_test
