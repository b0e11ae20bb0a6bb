// Printing a plain text: the print dialog, then the text laid out in the
// chosen font and printed as one job: a printer that makes copies itself
// gets the document once with the copy count asked for; any other (a PDF
// file) gets the pages repeated that many times, so N copies are N copies,
// never N x N. A PDF file chosen in the dialog needs no printer.
//
// GUI thread only.
#pragma once

#include <QFont>
#include <QString>
#include <functional>

class QPrinter;
class QWidget;

namespace qovra::ui {

// The font for name and point size. "Times New Roman", "Courier New" and
// "Arial" (case ignored) fall back to the metric-compatible Liberation
// Serif, Mono and Sans when missing, so that fixed-width text keeps its
// columns.
QFont PrintFont(const QString& name, int point_size);

// Lays text out in the font inside the page's margins and prints it on
// printer as one job named title. False when the printer could not start
// the job.
bool PrintTextOn(QPrinter& printer, const QString& font_name, int point_size, const QString& text,
                 const QString& title);

// Runs the print dialog over owner, the page's margins preset to 15 mm on
// every side; when confirmed, PrintTextOn with the printer as set up there.
// True when something was printed.
bool PrintText(QWidget* owner, const QString& font_name, int point_size, const QString& text,
               const QString& title);

// Tests: a stand-in for the print dialog. It sets the printer up and
// returns whether the user confirmed. An empty function restores the
// real dialog.
using TPrintDialogHook = std::function<bool(QPrinter& printer, QWidget* owner)>;
void SetPrintDialogHookForTesting(TPrintDialogHook hook);

}  // namespace qovra::ui
