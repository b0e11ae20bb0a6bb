#include "qovra/ui/about_box.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "base/messages.h"
#include "base/version.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kClientWidth = 333;
constexpr int kClientHeight = 161;
constexpr int kCloseResult = 2;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* owner, const QString& program_file)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      imgLogo(new QLabel(this)),
      lblProgramInfo(new QLabel(this)),
      lblAboutDesc(new QLabel(this)),
      lblCopyright(new QLabel(this)),
      btnOK(new QPushButton(QStringLiteral("OK"), this)) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(kClientWidth, kClientHeight);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(245, 245, 240));
  setPalette(palette);
  setAutoFillBackground(true);

  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  lblProgramInfo->setObjectName(QStringLiteral("lblProgramInfo"));
  lblAboutDesc->setObjectName(QStringLiteral("lblAboutDesc"));
  lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
  btnOK->setObjectName(QStringLiteral("btnOK"));

  imgLogo->setGeometry(16, 16, 48, 48);
  lblProgramInfo->setGeometry(80, 16, kClientWidth - 96, 24);
  lblAboutDesc->setGeometry(80, 44, kClientWidth - 96, 48);
  lblCopyright->setGeometry(16, 100, kClientWidth - 32, 18);
  btnOK->setGeometry(kClientWidth - 16 - 75, kClientHeight - 12 - 25, 75, 25);
  lblAboutDesc->setWordWrap(true);
  lblAboutDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblAboutDesc->setText(QStringLiteral("Secured e-mail"));
  for (QLabel* label : {lblProgramInfo, lblAboutDesc, lblCopyright}) {
    label->setTextFormat(Qt::PlainText);
  }
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, [this] { done(kCloseResult); });

  // 1. The program's icon at 48 pixels.
  imgLogo->setPixmap(qovra::ui::MainIcon().pixmap(48, 48));
  // 2. The language.
  qovra::ui::ApplyLanguageToForm(this);
  // 3. The product line.
  const QString file =
      program_file.isEmpty() ? QCoreApplication::applicationFilePath() : program_file;
  lblProgramInfo->setText(Msg("msgProgramName") + QLatin1Char(' ') +
                          QString::fromStdString(qovra::GetFileVersionString(file.toStdString())));
  // 4. Its font, where the system has it.
  if (QFontDatabase::families().contains(QStringLiteral("Segoe UI"))) {
    QFont font = lblProgramInfo->font();
    font.setFamily(QStringLiteral("Segoe UI"));
    lblProgramInfo->setFont(font);
  }
  // 5. The notice, from the language file.
  lblCopyright->setText(Msg("msgCopyright"));

  if (owner) {
    const QRect r = owner->window()->frameGeometry();
    move(r.x() + (r.width() - kClientWidth) / 2, r.y() + (r.height() - kClientHeight) / 2);
  }
}

void TfrmAbout::reject() {
  done(kCloseResult);
}
void TfrmAbout::accept() {
  done(kCloseResult);
}

namespace qovra::ui {

void ShowAboutBox(QWidget* owner) {
  TfrmAbout box(owner);
  box.exec();
}

}  // namespace qovra::ui
