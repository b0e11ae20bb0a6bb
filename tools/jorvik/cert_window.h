// The certificate viewer's window: the owner, validity, issuer and serial
// number of one certificate, and the fields of its public-key record.
#pragma once

#include <QDialog>
#include <QStringList>

#include "cert_info.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TfrmCertificate : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmCertificate(const jorvik::TCertificateInfo& info, QWidget* parent = nullptr);

  // The texts the window shows, one "caption: value" line per field (the
  // key fields as one line each), for tests and the render option.
  QStringList ShownTexts() const;

  QLabel* lblOwner;
  QLabel* lblValidFrom;
  QLabel* lblValidTo;
  QLabel* lblIssuer;
  QLabel* lblSerial;
  QPlainTextEdit* memKey;
  QPushButton* btnOK;
};

// A time in seconds since 1970 as local time "yyyy.MM.dd hh:mm:ss".
QString FormatCertificateTime(qint64 seconds);
