// Opening the certificate viewer (jorvik in the program folder) on a
// certificate file, for the login and registration windows.
#pragma once

#include <string>

class QWidget;

namespace qovra::account {

// Starts the viewer with owner's window id, the language setting and
// cert_file as its arguments (an argument vector, no shell). Nothing
// happens when the viewer is not in the program folder or no thread list
// exists. REQUIRES: cert_file names an existing file.
void OpenCertificateViewer(QWidget* owner, const std::string& cert_file);

}  // namespace qovra::account
