// Qt's own file dialog in the program's locale.
//
// Qt's file system model writes sizes and dates in the system locale (the
// environment's LANG), whatever locale the program sets as its default, and
// the dialog sizes its Size, Type and Date columns for short English texts.
// Once installed, every QFileDialog that shows a detail view of its own (not
// a desktop's native dialog) writes sizes and dates in QLocale() (the
// default locale, which FollowQtTranslation sets from the program's
// language), its Size, Type and Date columns widen to their texts and
// captions whenever its rows change (a column the user made wider stays
// so), and the Name column takes the width they leave.
// Types come from Qt's translation and the MIME database, which already
// follow the default locale; a folder's type, which Qt's translations lack,
// is the message msgFolderFileType when the message table has it.
//
// Interface thread only.
#pragma once

class QModelIndex;
class QString;
class QTreeView;

namespace qovra::ui {

// Installs the look for the application's file dialogs; later calls do
// nothing. REQUIRES: a QApplication exists.
void InstallFileDialogLook();

// Takes the texts that Qt's translations lack from the message table again
// (after it changed); a file dialog does it too when it shows. Does nothing
// before InstallFileDialogLook.
void RefreshFileDialogTexts();

// The text a file dialog's detail view shows for index (a cell of Qt's file
// system model, or of a proxy model over one): the size in kilobytes of 1024
// bytes and so on as QLocale() names them, below a kilobyte the message
// msgFileSizeBytes with the count (when the table has it), nothing for a
// folder; the date in QLocale()'s short format; a null string for other
// cells, which keep the model's text.
QString FileDialogCellText(const QModelIndex& index);

// Widens the Size, Type and Date columns of a file dialog's detail view to
// their texts and captions (never narrows them).
void FitFileDialogColumns(QTreeView& view);

}  // namespace qovra::ui
