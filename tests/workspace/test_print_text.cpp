// PrintText into PDF files (no printer needed): the copies asked for give
// that many copies of the document, the dialog's cancel prints nothing, and
// the report fonts fall back to the metric-compatible Liberation faces.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontInfo>
#include <QPrinter>
#include <QRegularExpression>
#include <QStringList>

#include "qovra/workspace/print_text.h"
#include "support/scratch_dir.h"

namespace {

using qovra::ui::PrintText;

// The page count of the PDF's page tree; -1 when the file has none.
int PdfPageCount(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray bytes = file.readAll();
  const QRegularExpression count(QStringLiteral("/Type\\s*/Pages\\b[^>]*?/Count\\s+(\\d+)"),
                                 QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch m = count.match(QString::fromLatin1(bytes));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString Lines(int count, const QString& line_end = QStringLiteral("\r\n")) {
  QStringList lines;
  for (int i = 0; i < count; ++i) lines << QStringLiteral("Line %1 of the mail").arg(i + 1);
  return lines.join(line_end);
}

class PrintTextTest : public ::testing::Test {
 protected:
  void TearDown() override { qovra::ui::SetPrintDialogHookForTesting({}); }

  // Prints text through the dialog stand-in, which chooses a PDF file and
  // copies; returns the file's page count.
  int PrintToPdf(const QString& text, int copies, const char* name) {
    const QString path = QString::fromStdString(dir.File(name));
    qovra::ui::SetPrintDialogHookForTesting([&](QPrinter& printer, QWidget*) {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(path);
      printer.setCopyCount(copies);
      return true;
    });
    EXPECT_TRUE(
        PrintText(nullptr, QStringLiteral("Times New Roman"), 14, text, QStringLiteral("Subject")));
    return PdfPageCount(path);
  }

  qovra::testing::ScratchDir dir;
};

TEST_F(PrintTextTest, CopiesGiveThatManyCopiesOfTheDocument) {
  const int one_page = PrintToPdf(Lines(3), 1, "short-1.pdf");
  EXPECT_EQ(one_page, 1);
  EXPECT_EQ(PrintToPdf(Lines(3), 3, "short-3.pdf"), 3);
  const int long_pages = PrintToPdf(Lines(150), 1, "long-1.pdf");
  EXPECT_GT(long_pages, 1);
  EXPECT_EQ(PrintToPdf(Lines(150), 3, "long-3.pdf"), 3 * long_pages);
}

// Each form of line end (other writers' bodies may use LF) starts a new
// line on paper: the same pages as with CR LF.
TEST_F(PrintTextTest, EveryFormOfLineEndBreaksTheLine) {
  const int pages = PrintToPdf(Lines(150), 1, "crlf.pdf");
  ASSERT_GT(pages, 1);
  EXPECT_EQ(PrintToPdf(Lines(150, QStringLiteral("\n")), 1, "lf.pdf"), pages);
  EXPECT_EQ(PrintToPdf(Lines(150, QStringLiteral("\r")), 1, "cr.pdf"), pages);
}

TEST_F(PrintTextTest, CancelledDialogPrintsNothing) {
  const QString path = QString::fromStdString(dir.File("none.pdf"));
  qovra::ui::SetPrintDialogHookForTesting([&](QPrinter& printer, QWidget*) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    return false;
  });
  EXPECT_FALSE(PrintText(nullptr, QStringLiteral("Times New Roman"), 14, Lines(3), {}));
  EXPECT_FALSE(QFile::exists(path));
}

TEST(PrintFont, MissingWindowsFacesFallBackToLiberation) {
  const struct {
    const char* name;
    const char* family;
    bool fixed;
  } cases[] = {
      {"Times New Roman", "Liberation Serif", false},
      {"Courier new", "Liberation Mono", true},
  };
  for (const auto& c : cases) {
    const QFont font = qovra::ui::PrintFont(QString::fromLatin1(c.name), 14);
    const QFontInfo info(font);
    EXPECT_EQ(font.pointSize(), 14) << c.name;
    // Where the Windows face is installed it is used as it is.
    const QString wanted = QFontInfo(QFont(QString::fromLatin1(c.name))).family();
    if (wanted.compare(QString::fromLatin1(c.name), Qt::CaseInsensitive) == 0) continue;
    EXPECT_EQ(info.family(), QString::fromLatin1(c.family)) << c.name;
    EXPECT_EQ(info.fixedPitch(), c.fixed) << c.name;
  }
}

}  // namespace
