// The folder chooser and file-type icons.
//
// GUI thread only.
#pragma once

#include <QIcon>
#include <QString>
#include <string>
#include <string_view>

class QWidget;

namespace qovra::ui {

// Asks the user for a folder. The program uses the Qt folder dialog; tests
// install a chooser that answers from a script.
class IFolderChooser {
 public:
  virtual ~IFolderChooser() = default;
  // The folder the user chose, or empty when cancelled. title is the
  // dialog's text; a non-empty initial_dir is where the dialog starts.
  virtual QString ChooseFolder(QWidget* owner, const QString& title,
                               const QString& initial_dir) = 0;
};

// Installs chooser (the caller keeps ownership); null restores the Qt
// folder dialog.
void SetFolderChooser(IFolderChooser* chooser);

// Shows the folder chooser with title as its text; with a non-empty
// initial_dir the dialog is centred on the screen and starts there.
// Returns the chosen folder as an absolute, clean path (no trailing "/"
// except for the root), or empty when cancelled or when the answer is not
// an existing folder of the file system.
QString BrowseForFolderW(QWidget* owner, const QString& title, const QString& initial_dir);
// The same with UTF-8 texts.
std::string BrowseForFolderA(QWidget* owner, std::string_view title, std::string_view initial_dir);

// The index, in the process-wide list of file-type icons, of the icon for
// file_name's type, looked up by the name alone (the file need not exist).
// Names of one type share an index; indexes stay valid for the process.
int GetFileIconIndex(const QString& file_name);
// The icon at index of that list; a null icon for an unknown index.
QIcon SystemImageIcon(int index);
int SystemImageCount();

}  // namespace qovra::ui
