// Small helpers every window uses: the core's window handles, recursive
// enabling of a container's controls, the language hook of new forms and
// the wiping of a typed secret.
//
// GUI thread only.
#pragma once

#include <QWidget>

class QAction;
class QLineEdit;
class QPushButton;

#include "seam/ui_seam.h"

namespace qovra::ui {

// The core passes windows around as opaque handles; in the GUI a handle is
// a QWidget* (null for none). REQUIRES: the widget is alive while the core
// holds its handle.
inline TWindowHandle HandleOf(QWidget* widget) {
  return static_cast<void*>(widget);
}
inline QWidget* WidgetOf(TWindowHandle handle) {
  return static_cast<QWidget*>(handle);
}

// Sets Enabled := !disable on every child widget of container, and
// recursively on the children of every child that has children. The
// container itself is left as it is.
void DisableChildControls(QWidget* container, bool disable);

// Applies the current language file to a newly built form (its class name
// finds the form's element, object names its components). The language
// code installs the routine; until then forms keep their built-in texts.
using ApplyLanguageFn = void (*)(QWidget* form);
void SetApplyLanguageFn(ApplyLanguageFn fn);
void ApplyLanguageToForm(QWidget* form);

// Overwrites the whole text buffer of edit (a typed secret) with zeros when
// nobody but the edit holds it, then clears the edit. True when the buffer
// was overwritten; false when it was not (an empty or static text, or a
// copy of text() still alive elsewhere, which keeps its content).
bool WipeEditText(QLineEdit* edit);

// An action named name (the language file finds it by that name), owned by
// parent.
QAction* NamedAction(QObject* parent, const char* name);
// A push button named name with the PNG resource picture as its icon,
// reached by Tab only (a click leaves the focus where it was).
QPushButton* PictureButton(QWidget* parent, const char* name, const char* picture);

}  // namespace qovra::ui
