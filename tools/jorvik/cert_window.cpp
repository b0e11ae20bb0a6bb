#include "cert_window.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The hexadecimal digits in rows of 16 bytes, bytes apart.
QString HexRows(const std::string& hex) {
  QString out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += (i % 32 == 0) ? QStringLiteral("\n    ") : QStringLiteral(" ");
    out += QString::fromLatin1(hex.data() + i, 2);
  }
  return out;
}

QLabel* ValueLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

}  // namespace

QString FormatCertificateTime(qint64 seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(
      QStringLiteral("yyyy.MM.dd hh:mm:ss"));
}

TfrmCertificate::TfrmCertificate(const jorvik::TCertificateInfo& info, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("frmCertificate"));
  const QString owner = QString::fromStdU16String(info.owner);
  setWindowTitle(owner.isEmpty() ? QStringLiteral("Certificate")
                                 : QStringLiteral("Certificate - %1").arg(owner));

  lblOwner = ValueLabel(owner, "lblOwner", this);
  lblValidFrom = ValueLabel(FormatCertificateTime(info.valid_from), "lblValidFrom", this);
  lblValidTo = ValueLabel(FormatCertificateTime(info.valid_to), "lblValidTo", this);
  lblIssuer = ValueLabel(QString::fromStdString(info.issuer), "lblIssuer", this);
  lblSerial = ValueLabel(QString::fromStdString(info.serial), "lblSerial", this);

  memKey = new QPlainTextEdit(this);
  memKey->setObjectName(QStringLiteral("memKey"));
  memKey->setReadOnly(true);
  memKey->setLineWrapMode(QPlainTextEdit::NoWrap);
  memKey->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QString key;
  for (const jorvik::TKeyField& field : jorvik::KeyFields(info.record)) {
    key += QStringLiteral("%1 (%2 bits):\n    %3\n")
               .arg(QString::fromStdString(field.name))
               .arg(field.bits)
               .arg(HexRows(field.hex));
  }
  memKey->setPlainText(key);
  memKey->setMinimumSize(560, 260);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Owner:"), lblOwner);
  form->addRow(QStringLiteral("Valid from:"), lblValidFrom);
  form->addRow(QStringLiteral("Valid to:"), lblValidTo);
  form->addRow(QStringLiteral("Issuer:"), lblIssuer);
  form->addRow(QStringLiteral("Serial number:"), lblSerial);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  btnOK = buttons->button(QDialogButtonBox::Ok);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(new QLabel(QStringLiteral("Public key:"), this));
  layout->addWidget(memKey, 1);
  layout->addWidget(buttons);
}

QStringList TfrmCertificate::ShownTexts() const {
  QStringList lines{
      QStringLiteral("Owner: ") + lblOwner->text(),
      QStringLiteral("Valid from: ") + lblValidFrom->text(),
      QStringLiteral("Valid to: ") + lblValidTo->text(),
      QStringLiteral("Issuer: ") + lblIssuer->text(),
      QStringLiteral("Serial number: ") + lblSerial->text(),
  };
  for (const QString& line : memKey->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (!line.startsWith(QLatin1Char(' '))) lines << QStringLiteral("Key: ") + line;
  }
  return lines;
}
