// Where the program finds its login window.
#pragma once

#include "qovra/ui_seam.h"

namespace qovra::app {

// The login window's implementation of the login seam, or null while the
// program is built without a login window; the main block then says so and
// ends. The login window's library provides the object once it is linked
// into the program.
ILoginDialogUi* ProgramLoginWindow();

}  // namespace qovra::app
