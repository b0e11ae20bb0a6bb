// The certificate viewer's window: the owner, validity, issuer and serial
// number of one certificate, and the fields of its public-key record.
//
// Every caption comes from the language file: the components from the
// element "TfrmCertificate", the names of the key fields from its messages.
// The window has the size its texts need and cannot be resized (the key
// fields scroll).
#pragma once

#include <QDialog>
#include <QStringList>

#include "cert_info.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qovra {
class TLanguageFile;
}

class TfrmCertificate : public QDialog {
  Q_OBJECT

 public:
  // Builds the window for info with the texts of language, which also fills
  // the message table. A null language leaves the captions empty and the
  // key field names derived from their keys (as a langid of 2 does).
  TfrmCertificate(const jorvik::TCertificateInfo& info, const qovra::TLanguageFile* language,
                  QWidget* parent = nullptr);

  // The texts the window shows, for tests and the render option: the window
  // title, one "caption value" line per field, the caption of the key, one
  // line per key field name, the button.
  QStringList ShownTexts() const;

  QLabel* lblOwnerCaption = nullptr;
  QLabel* lblOwner = nullptr;
  QLabel* lblValidFromCaption = nullptr;
  QLabel* lblValidFrom = nullptr;
  QLabel* lblValidToCaption = nullptr;
  QLabel* lblValidTo = nullptr;
  QLabel* lblIssuerCaption = nullptr;
  QLabel* lblIssuer = nullptr;
  QLabel* lblSerialCaption = nullptr;
  QLabel* lblSerial = nullptr;
  QLabel* lblKeyCaption = nullptr;
  QPlainTextEdit* memKey = nullptr;
  QPushButton* btnOK = nullptr;
};

// The window's caption in language (its "Caption" entry); empty for a null
// language or one without it.
QString CertificateWindowCaption(const qovra::TLanguageFile* language);

// A time in seconds since 1970 as local time "yyyy.MM.dd hh:mm:ss".
QString FormatCertificateTime(qint64 seconds);
