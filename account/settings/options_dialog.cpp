// TfrmOptions: the page list, the pages' host and OK.
#include "qovra/account/options_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "base/messages.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "qovra/account/mail_folder_move.h"
#include "qovra/account/options_pages.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/button_edit.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"
#include "settings/settings.h"

namespace qovra::account {

uint16_t OptionsPageMask = kAllOptionPages;
TOptions OptionsCopy;

}  // namespace qovra::account

namespace {

using qovra::account::OptionsCopy;

// One entry of the page list: icon resource and caption label.
struct TOptMenuData {
  const char* icon;
  const char* caption_label;
};
constexpr TOptMenuData kOptionPages[] = {
    {"ico_conn32", "tabConnection"}, {"ico_keys32", "tabKeys"}, {"ico_interface32", "tabInterface"},
    {"ico_folder32", "tabFolders"},  {"ico_mail32", "tabMail"},
};
constexpr int kPageCount = 5;
constexpr int kIconSize = 32;
constexpr int kIconTop = 6;
constexpr int kMenuWidth = 104;

TOptionsPage* NewPage(int page, QWidget* parent) {
  switch (page) {
    case qovra::account::kPageConnection:
      return new TfrmOptConnection(parent);
    case qovra::account::kPageKeys:
      return new TfrmOptKeys(parent);
    case qovra::account::kPageInterface:
      return new TfrmOptInterface(parent);
    case qovra::account::kPageFolders:
      return new TfrmOptFolders(parent);
    default:
      return new TfrmOptMailParameters(parent);
  }
}

// lbMenuDrawItem: the page's icon centred at the top, its caption below.
class TMenuDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    (void)index;
    return {option.rect.width(), TfrmOptions::kItemHeight};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(
        rect, selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : palette.color(QPalette::WindowText));
    const int page = index.data(Qt::UserRole).toInt();
    if (page >= 0 && page < kPageCount) {
      const QImage icon = qovra::ui::LoadPngResource(QString::fromLatin1(kOptionPages[page].icon));
      painter->drawImage(rect.left() + (rect.width() - kIconSize) / 2, rect.top() + kIconTop, icon);
    }
    const QRect text_rect(rect.left(), rect.top() + kIconSize, rect.width(),
                          rect.height() - kIconSize);
    const QString caption = painter->fontMetrics().elidedText(
        index.data(Qt::DisplayRole).toString(), Qt::ElideRight, rect.width() - 4);
    painter->drawText(text_rect, Qt::AlignCenter | Qt::TextSingleLine, caption);
    if (option.state & QStyle::State_HasFocus) {
      QPen pen(painter->pen().color(), 1, Qt::DotLine);
      painter->setPen(pen);
      painter->drawRect(rect.adjusted(1, 1, -2, -2));
    }
    painter->restore();
  }
};

// The mail data copy's progress: moves the progress window's bar (data)
// and lets every window repaint, about 30 times a second, while the copy
// keeps the interface thread busy; user input waits until it is done.
void CopyProgress(void* data, int64_t total, int64_t done) {
  constexpr qint64 kPaintIntervalMs = 33;
  static QElapsedTimer since_paint;
  qovra::ProgressCallback(data, total, done);
  if (since_paint.isValid() && since_paint.elapsed() < kPaintIntervalMs && done < total) return;
  since_paint.start();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The main window is shown (the dialog may belong to the login window).
bool MainWindowVisible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("frmMain") && w->isVisible()) return true;
  return false;
}

}  // namespace

TfrmOptions::TfrmOptions(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                 Qt::WindowTitleHint);
  setWindowIcon(qovra::ui::MainIcon());
  BuildLayout();

  // FormCreate.
  OptionsCopy = qovra::Options;
  lbMenu->clear();
  qovra::ui::ApplyLanguageToForm(this);
  for (int n = 0; n < kPageCount; ++n)
    if (qovra::account::OptionsPageMask & (1u << n)) CreatePage(n);
  current_page_ = -1;
  if (lbMenu->count() > 0) lbMenu->setCurrentRow(0);
  lbMenuClick();
  connect(lbMenu, &QListWidget::currentRowChanged, this, &TfrmOptions::lbMenuClick);
  connect(btnOK, &QPushButton::clicked, this, &TfrmOptions::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmOptions::reject);
}

TfrmOptions::~TfrmOptions() {
  // A balloon pointing into this window goes with it.
  if (const auto balloon = qovra::ui::CurrentBalloon()) {
    if (balloon->field && isAncestorOf(balloon->field)) qovra::ui::HideBalloon();
  }
}

void TfrmOptions::BuildLayout() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(10, 10, 10, 10);
  auto* body = new QHBoxLayout;
  lbMenu = new QListWidget(this);
  lbMenu->setObjectName(QStringLiteral("lbMenu"));
  lbMenu->setItemDelegate(new TMenuDelegate(lbMenu));
  lbMenu->setFixedWidth(kMenuWidth);
  lbMenu->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lbMenu->setUniformItemSizes(true);
  body->addWidget(lbMenu);

  auto* right = new QVBoxLayout;
  lblTitle = new QLabel(this);
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  QFont bold = lblTitle->font();
  bold.setBold(true);
  lblTitle->setFont(bold);
  lblTitle->setMinimumHeight(24);
  lblTitle->setStyleSheet(QStringLiteral("background: palette(base); padding: 2px;"));
  right->addWidget(lblTitle);
  pMain = new QWidget(this);
  pMain->setObjectName(QStringLiteral("pMain"));
  auto* host = new QGridLayout(pMain);
  host->setContentsMargins(4, 6, 0, 0);
  right->addWidget(pMain, 1);
  body->addLayout(right, 1);
  root->addLayout(body, 1);

  // The caption labels carry each page's caption and hint.
  QLabel** labels[] = {&tabConnection, &tabKeys, &tabInterface, &tabFolders, &tabMail};
  for (int n = 0; n < kPageCount; ++n) {
    *labels[n] = new QLabel(this);
    (*labels[n])->setObjectName(QString::fromLatin1(kOptionPages[n].caption_label));
    (*labels[n])->hide();
  }

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnCancel = new QPushButton(this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  root->addLayout(buttons);
  setFixedSize(600, 420);
}

void TfrmOptions::CreatePage(int page) {
  TOptionsPage* form = NewPage(page, pMain);
  form->setObjectName(QStringLiteral("frmOptPage%1").arg(page));
  // Item lists come with the language file: there before the page is loaded.
  qovra::ui::ApplyLanguageToForm(form);
  static_cast<QGridLayout*>(pMain->layout())->addWidget(form, 0, 0);
  form->hide();
  const QLabel* label = findChild<QLabel*>(QString::fromLatin1(kOptionPages[page].caption_label));
  form->setWindowTitle(label->text());
  form->setToolTip(label->toolTip());
  form->setProperty("Tag", page);
  auto* item = new QListWidgetItem(label->text(), lbMenu);
  item->setData(Qt::UserRole, page);
  item->setToolTip(label->toolTip());
  item->setSizeHint(QSize(kMenuWidth, kItemHeight));
  pages_.push_back(form);
}

TOptionsPage* TfrmOptions::FindPage(int page) const {
  for (TOptionsPage* form : pages_)
    if (form->property("Tag").toInt() == page) return form;
  return nullptr;
}

void TfrmOptions::lbMenuClick() {
  const int row = lbMenu->currentRow();
  if (row < 0 || row == current_page_ || row >= static_cast<int>(pages_.size())) return;
  if (current_page_ >= 0) pages_[static_cast<size_t>(current_page_)]->hide();
  TOptionsPage* page = pages_[static_cast<size_t>(row)];
  page->show();
  current_page_ = row;
  lblTitle->setText(QStringLiteral("   ") + page->toolTip());
}

void TfrmOptions::reject() {
  done(qovra::kOptionsCancelled);
}

void TfrmOptions::LoadPages() {
  for (TOptionsPage* page : pages_) page->Load(OptionsCopy);
  // The key paths start hidden.
  if (auto* keys = static_cast<TfrmOptKeys*>(FindPage(qovra::account::kPageKeys)))
    keys->btnHideKeyPathsClick();
}

void TfrmOptions::SavePages() {
  for (TOptionsPage* page : pages_) page->Save(OptionsCopy);
}

void TfrmOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (loaded_) return;
  loaded_ = true;
  LoadPages();
}

void TfrmOptions::FocusOnPage(int page, QWidget* widget) {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i]->property("Tag").toInt() == page) lbMenu->setCurrentRow(static_cast<int>(i));
  lbMenuClick();
  widget->setFocus();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void TfrmOptions::btnOKClick() {
  for (TOptionsPage* page : pages_) {
    const char* key = nullptr;
    if (qovra::ui::TEditEx* field = page->CheckFields(&key)) {
      FocusOnPage(page->property("Tag").toInt(), field);
      field->ShowBalloonTip(windowTitle(), QString::fromStdString(qovra::GetMsg(key)), 2);
      return;
    }
  }
  SavePages();
  const bool main_visible = MainWindowVisible();
  if (OptionsCopy.Mail.reffreq == 0 || !main_visible) qovra::ReceiveTimer().SetEnabled(false);

  qovra::TMailFolderChange change;
  change.old_maildir = qovra::Options.Folders.maildir;
  change.new_maildir = OptionsCopy.Folders.maildir;
  change.address = qovra::Session.OwnContact.Email;
  change.program_dir = qovra::ProgramDir;
  change.progress = CopyProgress;
  change.progress_data = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
  const int result = qovra::ChangeMailFolder(qovra::ui::HandleOf(this), change);
  if (result == qovra::kOptionsCancelled) {
    if (auto* folders = static_cast<TfrmOptFolders*>(FindPage(qovra::account::kPageFolders)))
      FocusOnPage(qovra::account::kPageFolders, folders->eMailDirectory);
    return;
  }
  OptionsCopy.Folders.maildir = change.new_maildir;

  if (OptionsCopy.Mail.reffreq != 0 && OptionsCopy.Mail.reffreq != qovra::Options.Mail.reffreq &&
      main_visible)
    qovra::ReceiveTimer().SetEnabled(true);
  qovra::Options = OptionsCopy;
  qovra::HandshakeDone = false;
  done(result);
}
