// The folder the program's file dialogs start in: the folder of the file
// last chosen in one of them during this run, the documents folder before
// that.
//
// GUI thread only.
#pragma once

#include <QString>

namespace qovra::ui {

// Where the next file dialog starts: the remembered folder while it still
// exists, else the documents folder (empty when none is known).
QString FileDialogStartFolder();

// Remembers the folder of chosen, a file picked in a file dialog.
void RememberFileDialogChoice(const QString& chosen);

}  // namespace qovra::ui
