#include "qovra/addressbook/contacts_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <algorithm>

#include "base/utf.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_tree_model.h"
#include "qovra/addressbook/recipients.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;

constexpr int kWidth = 440;
constexpr int kHeight = 480;
constexpr int kMargin = 8;
constexpr int kLogoSize = 32;
constexpr int kTextLeft = kMargin + kLogoSize + kMargin;
constexpr int kSearchTop = 12;
constexpr int kSearchHeight = 25;
constexpr int kMessageHeight = 48;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 27;

// Restores the cursor on every way out.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

TfrmContactsList::TfrmContactsList(qovra::SqliteDb& db, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      lvContacts(new QTreeView(this)),
      frameSearchEditField(new qovra::ui::TframeSearchEdit(this)),
      lblMessage(new QLabel(this)),
      imgLogo(new QLabel(this)),
      btnOK(new QPushButton(this)),
      btnCancel(new QPushButton(this)),
      chkShowGroups(new QCheckBox(this)),
      db_(db),
      model_(new qovra::addressbook::TContactTreeModel(this)),
      images_(std::make_unique<qovra::ui::TImageList>()) {
  setObjectName(QStringLiteral("frmContactsList"));
  lvContacts->setObjectName(QStringLiteral("lvContacts"));
  frameSearchEditField->setObjectName(QStringLiteral("frameSearchEditField"));
  lblMessage->setObjectName(QStringLiteral("lblMessage"));
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  chkShowGroups->setObjectName(QStringLiteral("chkShowGroups"));

  // The logo on the window's colour.
  imgLogo->setAttribute(Qt::WA_TranslucentBackground);
  imgLogo->setPixmap(
      QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_vcard_check32"))));

  lblMessage->setWordWrap(true);
  lblMessage->setTextFormat(Qt::PlainText);
  lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  frameSearchEditField->hide();
  chkShowGroups->hide();

  lvContacts->setHeaderHidden(true);
  lvContacts->setUniformRowHeights(true);
  lvContacts->setSelectionMode(QAbstractItemView::SingleSelection);
  lvContacts->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvContacts->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvContacts->setContextMenuPolicy(Qt::PreventContextMenu);
  // The one column is as wide as the tree (FormResize): no sideways
  // scrolling; long rows end in an ellipsis.
  lvContacts->header()->setStretchLastSection(true);
  lvContacts->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lvContacts->setModel(model_);

  btnOK->setDefault(true);
  btnCancel->setAutoDefault(false);
  connect(btnOK, &QPushButton::clicked, this, [this] {
    CollectChecked();
    done(kResultOk);
  });
  connect(btnCancel, &QPushButton::clicked, this, &TfrmContactsList::reject);
  connect(frameSearchEditField->eSearch(), &QLineEdit::textChanged, this,
          &TfrmContactsList::frameSearchEditFieldeSearchChange);
  setTabOrder(frameSearchEditField->eSearch(), lvContacts);
  setTabOrder(lvContacts, btnOK);
  setTabOrder(btnOK, btnCancel);

  // FormCreate.
  qovra::ui::ApplyLanguageToForm(this);
  unknown_mode_ = false;
  (void)qovra::ui::AddPngResourceToImageList(*images_, QStringLiteral("ico_user16"),
                                             qovra::ui::kPngPlain);
  (void)qovra::ui::AddPngResourceToImageList(*images_, QStringLiteral("ico_user_group16"),
                                             qovra::ui::kPngPlain);
  model_->SetImages(images_.get());

  tree_top_ = kMargin + kLogoSize + kMargin;
  setMinimumSize(320, 240);
  resize(kWidth, kHeight);
  LayoutControls();
}

TfrmContactsList::~TfrmContactsList() {
  lvContacts->setModel(nullptr);
}

void TfrmContactsList::Prepare(const QString& to_text) {
  (void)qovra::UpgradeContactsSchema(db_);
  lblMessage->hide();
  frameSearchEditField->show();
  tree_top_ = kSearchTop + kSearchHeight + kMargin;
  LayoutControls();
  {
    WaitCursor wait;
    lvContacts->setUpdatesEnabled(false);
    model_->BeginFill();
    qovra::TContactNode* root = qovra::AddAllGroupNode(model_->Tree());
    (void)qovra::LoadGroupNode(db_, model_->Tree(), *root);
    model_->EndFill();
    lvContacts->expandAll();
    lvContacts->setUpdatesEnabled(true);
  }
  if (!to_text.isEmpty()) {
    model_->CheckAddresses(qovra::AddressSetOf(to_text.toStdString()));
    SelectNode(model_->index(0, 0));
  }
}

int TfrmContactsList::Execute(const QString& to_text, bool /*show_groups*/) {
  Prepare(to_text);
  CentreOnDesktop();
  return exec();
}

void TfrmContactsList::CentreOnDesktop() {
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TfrmContactsList::AddUnknownRecipient(const qovra::TContact& contact) {
  unknown_mode_ = true;
  (void)model_->AppendContact(contact, /*checked=*/true);
}

int TfrmContactsList::ExecuteUnknownRecipients() {
  unknown_mode_ = true;
  frameSearchEditField->hide();
  lblMessage->show();
  tree_top_ = kMargin + kMessageHeight + kMargin;
  LayoutControls();
  SelectNode(model_->index(0, 0));
  CentreOnDesktop();
  return exec();
}

std::vector<qovra::TContact> TfrmContactsList::CheckedContacts() const {
  return model_->CheckedContacts();
}

void TfrmContactsList::CollectChecked() {
  std::vector<qovra::TRecipientEntry> entries = model_->CheckedEntries();
  qovra::DedupRecipients(entries);
  ResultText += QString::fromStdString(qovra::JoinRecipientTexts(entries));
  ResultAddresses += qovra::JoinRecipientAddresses(entries);
}

void TfrmContactsList::frameSearchEditFieldeSearchChange() {
  const QString lowered = frameSearchEditField->eSearch()->text().toLower();
  SelectNode(model_->IndexOf(model_->FindText(lowered)));
}

void TfrmContactsList::SelectNode(const QModelIndex& index) {
  if (!index.isValid()) return;
  lvContacts->setCurrentIndex(index);
  lvContacts->scrollTo(index);
}

void TfrmContactsList::reject() {
  done(kResultCancel);
}

void TfrmContactsList::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  lvContacts->setFocus();
  SelectNode(model_->index(0, 0));
}

void TfrmContactsList::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayoutControls();
}

void TfrmContactsList::LayoutControls() {
  const int w = width();
  const int h = height();
  imgLogo->setGeometry(kMargin, kMargin, kLogoSize, kLogoSize);
  frameSearchEditField->setGeometry(kTextLeft, kSearchTop, w - kTextLeft - kMargin, kSearchHeight);
  lblMessage->setGeometry(kTextLeft, kMargin, w - kTextLeft - kMargin, kMessageHeight);
  const int buttons_top = h - kMargin - kButtonHeight;
  const int bw = std::max({kButtonWidth, btnOK->sizeHint().width(), btnCancel->sizeHint().width()});
  btnCancel->setGeometry(w - kMargin - bw, buttons_top, bw, kButtonHeight);
  btnOK->setGeometry(w - kMargin - 2 * bw - kMargin, buttons_top, bw, kButtonHeight);
  chkShowGroups->setGeometry(kMargin, buttons_top, w / 2 - kMargin, kButtonHeight);
  lvContacts->setGeometry(kMargin, tree_top_, w - 2 * kMargin, buttons_top - kMargin - tree_top_);
  // FormResize: the one column is as wide as the tree's client area.
  lvContacts->setColumnWidth(0, lvContacts->viewport()->width());
}
