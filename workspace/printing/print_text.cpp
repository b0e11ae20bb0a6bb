// PrintText through Qt PrintSupport.
#include "qovra/workspace/print_text.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <QTextOption>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace qovra::ui {

namespace {

// The page's margins: the text keeps clear of the paper's edge as in any
// printed letter, and the mail report's 83-column rules in their 10-point
// fixed-width font still fit the width of A4 (and of Letter).
constexpr double kPageMarginMm = 15.0;

TPrintDialogHook& DialogHook() {
  static TPrintDialogHook hook;
  return hook;
}

struct TFontFallback {
  const char* name;
  const char* fallback;
  QFont::StyleHint hint;
};

constexpr TFontFallback kFallbacks[] = {
    {"Times New Roman", "Liberation Serif", QFont::Serif},
    {"Courier New", "Liberation Mono", QFont::TypeWriter},
    {"Arial", "Liberation Sans", QFont::SansSerif},
};

bool HasFamily(const QString& family) {
  for (const QString& f : QFontDatabase::families())
    if (f.compare(family, Qt::CaseInsensitive) == 0) return true;
  return false;
}

}  // namespace

QFont PrintFont(const QString& name, int point_size) {
  QFont font(name, point_size);
  for (const TFontFallback& f : kFallbacks) {
    if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) != 0) continue;
    font.setStyleHint(f.hint);
    if (f.hint == QFont::TypeWriter) font.setFixedPitch(true);
    if (!HasFamily(name)) font.setFamilies({QLatin1String(f.fallback), name});
    break;
  }
  return font;
}

bool PrintTextOn(QPrinter& printer, const QString& font_name, int point_size, const QString& text,
                 const QString& title) {
  printer.setDocName(title);
  // A printer that makes copies itself gets the document once with its
  // copy count; for any other (a PDF file) the pages are repeated here, in
  // the same job.
  const int copies = std::max(1, printer.copyCount());
  const int repeats = printer.supportsMultipleCopies() ? 1 : copies;
  if (repeats > 1) printer.setCopyCount(1);

  QTextDocument document;
  document.documentLayout()->setPaintDevice(&printer);
  document.setDefaultFont(PrintFont(font_name, point_size));
  document.setDocumentMargin(0);
  QTextOption option = document.defaultTextOption();
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  document.setDefaultTextOption(option);
  document.setPlainText(text);
  const QRectF page = printer.pageRect(QPrinter::DevicePixel);
  document.setPageSize(page.size());

  QPainter painter;
  if (!painter.begin(&printer)) {
    std::fprintf(stderr, "print: the printer refused the job\n");
    return false;
  }
  const int pages = std::max(1, document.pageCount());
  bool first = true;
  for (int copy = 0; copy < repeats; ++copy) {
    for (int i = 0; i < pages; ++i) {
      if (!first && !printer.newPage()) {
        painter.end();
        return false;
      }
      first = false;
      painter.save();
      // A line the layout moved to the next page starts exactly where this
      // page ends; it would be drawn here too (clipped from sight, but in a
      // PDF's text twice), so the page stops one device pixel before.
      const QRectF clip(0, i * page.height(), page.width(), page.height() - 1);
      painter.translate(0, -clip.top());
      document.drawContents(&painter, clip);
      painter.restore();
    }
  }
  return painter.end();
}

bool PrintText(QWidget* owner, const QString& font_name, int point_size, const QString& text,
               const QString& title) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(title);
  // Set before the dialog, where the page setup shows and may change them.
  printer.setPageMargins(QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                         QPageLayout::Millimeter);
  bool accepted = false;
  if (DialogHook()) {
    accepted = DialogHook()(printer, owner);
  } else {
    QPrintDialog dialog(&printer, owner);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    accepted = dialog.exec() == QDialog::Accepted;
  }
  if (!accepted) return false;
  return PrintTextOn(printer, font_name, point_size, text, title);
}

void SetPrintDialogHookForTesting(TPrintDialogHook hook) {
  DialogHook() = std::move(hook);
}

}  // namespace qovra::ui
