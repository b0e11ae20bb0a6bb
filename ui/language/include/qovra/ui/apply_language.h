// Applying the current language file (language.h) to Qt windows.
//
// Windows are found by class name: a window's class name is its dynamic
// property "qovraClass" when that is set (for a window whose C++ class is
// not named like its element, e.g. a plain QDialog), else its C++ class name
// without namespaces (metaObject()->className(), "qovra::TfrmMain" gives
// "TfrmMain"). Element names compare without regard to case.
//
// Controls are found by object name among the descendants of the owning
// window (or of the control itself when no owner is given): an exact match
// first, else a match without regard to case. Each entry is set by the kind
// of object it names:
//   Caption (child of the class element)  window title, only for a window
//   Hint (child of the class element)     the control's tool tip
//   page of a QTabWidget                  tab text; tab tool tip = hint
//   QLabel showing a pixmap, no text      tool tip = text (an image)
//   QLabel                                text; tool tip = hint (empty when
//                                         the attribute is absent)
//   QAbstractButton (push, tool, radio,   text; tool tip = hint when the
//     check buttons)                      attribute is given and not empty,
//                                         else a tool button's default
//                                         action's tool tip, else as it was
//   QAction                               text; with a hint attribute also
//                                         tool tip and status tip
//   QGroupBox                             title
//   QMenu                                 title (a menu of a menu bar or
//                                         a submenu)
//   a widget with a "Caption" property    Caption; tool tip = hint when
//     (the program's own links)           the attribute is given
//   QComboBox, QListWidget                with item children: the items are
//                                         replaced and the first selected
// Names that match no object, and objects of other kinds, are skipped.
// Interface thread only.
#pragma once

#include <QLocale>
#include <QString>

class QObject;
class QWidget;

namespace qovra {

class TLanguageFile;

// The class name that control's texts are looked up under (see above).
QString LanguageClassName(const QObject* control);

// Loads the current language file (a parse failure or a missing file ends
// silently), replaces the message table from its Messages element, and,
// when control is given, sets the texts of control and its components from
// the element of control's class. owner is the window whose components the
// names refer to; null means control itself.
void ApplyLanguage(QWidget* control, QWidget* owner = nullptr);

// The locale of a language: Russian (Russia) for "ru", Uzbek in Cyrillic
// script (Uzbekistan) for "uzc", C for any other.
QLocale LanguageLocale(int langid);

// Qt's own dialogs (file, print) follow the language: the language's locale
// becomes the default locale (sizes, dates and numbers; file types where
// the MIME database names them in it), file dialogs take it for their sizes
// and dates (file_dialog_look.h), and where Qt translates its texts they are
// translated: its Russian translation is installed while the language is
// Russian; for Uzbek they keep Qt's English. Runs again only when langid
// changed. ApplyLanguage calls it.
void FollowQtTranslation();

// The same with an already parsed file (null does nothing).
void ApplyLanguageFile(const TLanguageFile* file, QWidget* control, QWidget* owner = nullptr);

}  // namespace qovra
