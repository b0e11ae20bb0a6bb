#include "cert_window.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "base/messages.h"
#include "base/msg_format.h"
#include "qovra/ui/apply_language.h"
#include "settings/language.h"

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

QString CertificateWindowCaption(const qovra::TLanguageFile* language) {
  if (!language) return {};
  for (const qovra::TLanguageEntry& e : language->Entries("TfrmCertificate")) {
    if (e.name == "Caption") return QString::fromStdString(e.text);
  }
  return {};
}

QString FormatCertificateTime(qint64 seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(
      QStringLiteral("yyyy.MM.dd hh:mm:ss"));
}

TfrmCertificate::TfrmCertificate(const jorvik::TCertificateInfo& info,
                                 const qovra::TLanguageFile* language, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("frmCertificate"));
  auto* grid = new QGridLayout;
  int rows = 0;
  const auto row = [&](QLabel*& caption, const char* caption_name, QLabel*& value,
                       const QString& text, const char* value_name) {
    caption = new QLabel(this);
    caption->setObjectName(QString::fromLatin1(caption_name));
    value = ValueLabel(text, value_name, this);
    grid->addWidget(caption, rows, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(value, rows++, 1);
  };
  const QString owner = QString::fromStdU16String(info.owner);
  row(lblOwnerCaption, "lblOwnerCaption", lblOwner, owner, "lblOwner");
  row(lblValidFromCaption, "lblValidFromCaption", lblValidFrom,
      FormatCertificateTime(info.valid_from), "lblValidFrom");
  row(lblValidToCaption, "lblValidToCaption", lblValidTo, FormatCertificateTime(info.valid_to),
      "lblValidTo");
  row(lblIssuerCaption, "lblIssuerCaption", lblIssuer, QString::fromStdString(info.issuer),
      "lblIssuer");
  row(lblSerialCaption, "lblSerialCaption", lblSerial, QString::fromStdString(info.serial),
      "lblSerial");
  grid->setColumnStretch(1, 1);

  lblKeyCaption = new QLabel(this);
  lblKeyCaption->setObjectName(QStringLiteral("lblKeyCaption"));
  memKey = new QPlainTextEdit(this);
  memKey->setObjectName(QStringLiteral("memKey"));
  memKey->setReadOnly(true);
  memKey->setLineWrapMode(QPlainTextEdit::NoWrap);
  memKey->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memKey->setMinimumSize(560, 260);

  btnOK = new QPushButton(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(lblKeyCaption);
  layout->addWidget(memKey, 1);
  layout->addLayout(buttons);
  // The size the texts need, fixed: the window manager then offers no
  // resizing (and draws no resize handle).
  layout->setSizeConstraint(QLayout::SetFixedSize);

  qovra::ApplyLanguageFile(language, this);
  const QString caption = CertificateWindowCaption(language);
  if (owner.isEmpty() || caption.isEmpty()) {
    setWindowTitle(owner.isEmpty() ? caption : owner);
  } else {
    setWindowTitle(caption + QStringLiteral(" - ") + owner);
  }
  const std::string field_pattern = qovra::GetMsg("msgCertKeyField");
  QString key;
  for (const jorvik::TKeyField& field : jorvik::KeyFields(info.record)) {
    key += QString::fromStdString(
        qovra::FormatMsgArgs(field_pattern, qovra::GetMsg(field.name_key), field.bits));
    key += QStringLiteral("\n    ") + HexRows(field.hex) + QLatin1Char('\n');
  }
  memKey->setPlainText(key);
}

QStringList TfrmCertificate::ShownTexts() const {
  QStringList lines{windowTitle()};
  for (const auto& [caption, value] :
       {std::pair{lblOwnerCaption, lblOwner}, std::pair{lblValidFromCaption, lblValidFrom},
        std::pair{lblValidToCaption, lblValidTo}, std::pair{lblIssuerCaption, lblIssuer},
        std::pair{lblSerialCaption, lblSerial}}) {
    lines << caption->text() + QLatin1Char(' ') + value->text();
  }
  lines << lblKeyCaption->text();
  for (const QString& line : memKey->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (!line.startsWith(QLatin1Char(' '))) lines << line;
  }
  lines << btnOK->text();
  return lines;
}
