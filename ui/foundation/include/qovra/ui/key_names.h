// Key names of shortcut texts in the program's language.
//
// Qt builds a shortcut's text (QKeySequence::NativeText, which menus show)
// from the names of its modifiers and keys ("Ctrl", "Alt", "Return", "Del");
// once InstallKeyNames has run, each name the language file gives under
// <Messages> (keyNameCtrl, keyNameAlt, keyNameReturn, ... as listed in
// key_names.cpp) takes the place of Qt's English one, so "Alt+Return" reads
// with the Russian or Uzbek word for Return. Names the file lacks stay Qt's; letters,
// digits and function keys are written as on the keyboard ("Ctrl+N", "F5").
// The names are read at every use, so a newly loaded language applies at
// once.
//
// GUI thread only.
#pragma once

#include <QString>

namespace qovra::ui {

// The language file's name for a key or modifier as Qt names it in shortcut
// texts ("Ctrl", "Return", "Del", "PgUp"); empty when the key has no entry
// in the table or the language file gives none.
QString LanguageKeyName(const QString& qt_name);

// Makes Qt's shortcut texts use the language's key names (see above). Once
// per application; later calls do nothing. REQUIRES: a QCoreApplication.
void InstallKeyNames();

}  // namespace qovra::ui
