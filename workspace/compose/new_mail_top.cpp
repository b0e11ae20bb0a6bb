// TframeNewMailTop: layout, completion, picker link and the two pop-ups.
#include "qovra/workspace/new_mail_top.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <vector>

#include "base/utf.h"
#include "mail/startup.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/ui/png_resources.h"
#include "qovra/workspace/compose_rules.h"
#include "settings/settings.h"

namespace {

constexpr int kListItemHeight = 16;

QToolButton* MakeFlatButton(QWidget* parent, const char* name, bool checkable) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoRaise(true);
  b->setCheckable(checkable);
  b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  return b;
}

QAction* MakeItem(QMenu* menu, QActionGroup* group, const char* name, int tag) {
  QAction* a = menu->addAction(QString());
  a->setObjectName(QString::fromLatin1(name));
  a->setCheckable(true);
  a->setData(tag);
  group->addAction(a);
  return a;
}

QIcon Glyph(const char* name) {
  return QIcon(QPixmap::fromImage(qovra::ui::LoadPngResource(QString::fromLatin1(name))));
}

}  // namespace

TframeNewMailTop::TframeNewMailTop(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("frameNewMailTop1"));
  tbNewMail = new QToolBar(this);
  tbNewMail->setObjectName(QStringLiteral("tbNewMail"));
  tbNewMail->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  tbNewMail->setIconSize(QSize(32, 32));

  pnlTop = new QWidget(this);
  pnlTop->setObjectName(QStringLiteral("pnlTop"));
  wlTo = new QPushButton(pnlTop);
  wlTo->setObjectName(QStringLiteral("wlTo"));
  wlTo->setFlat(true);
  wlTo->setCursor(Qt::PointingHandCursor);
  // A link, not the window's default button (TNewForm).
  wlTo->setAutoDefault(false);
  eTo = new QLineEdit(pnlTop);
  eTo->setObjectName(QStringLiteral("eTo"));
  lblSubject = new QLabel(pnlTop);
  lblSubject->setObjectName(QStringLiteral("lblSubject"));
  eSubject = new QLineEdit(pnlTop);
  eSubject->setObjectName(QStringLiteral("eSubject"));
  lblSubject->setBuddy(eSubject);

  btnSendingMode = MakeFlatButton(pnlTop, "btnSendingMode", false);
  btnPriority = MakeFlatButton(pnlTop, "btnPriority", false);
  btnReceiveReport = MakeFlatButton(pnlTop, "btnReceiveReport", true);
  btnReadReport = MakeFlatButton(pnlTop, "btnReadReport", true);
  btnReceiveReport->setChecked(true);
  btnReadReport->setChecked(true);
  chkFAU = new QCheckBox(pnlTop);
  chkFAU->setObjectName(QStringLiteral("chkFAU"));
  chkFAU->setLayoutDirection(Qt::RightToLeft);  // caption on the left

  lbContacts = new QListWidget(this);
  lbContacts->setObjectName(QStringLiteral("lbContacts"));
  lbContacts->setSortingEnabled(true);
  lbContacts->setUniformItemSizes(true);
  lbContacts->setMouseTracking(true);
  lbContacts->setFocusPolicy(Qt::NoFocus);
  lbContacts->hide();

  pmPriority = new QMenu(this);
  pmPriority->setObjectName(QStringLiteral("pmPriority"));
  auto* priorities = new QActionGroup(pmPriority);
  mnuHighPriority = MakeItem(pmPriority, priorities, "mnuHighPriority", 2);
  mnuNormalPriority = MakeItem(pmPriority, priorities, "mnuNormalPriority", 1);
  mnuLowPriority = MakeItem(pmPriority, priorities, "mnuLowPriority", 0);
  mnuNormalPriority->setChecked(true);
  pmSendingMode = new QMenu(this);
  pmSendingMode->setObjectName(QStringLiteral("pmSendingMode"));
  auto* modes = new QActionGroup(pmSendingMode);
  mnuSecureMode = MakeItem(pmSendingMode, modes, "mnuSecureMode", 0);
  mnuFastMode = MakeItem(pmSendingMode, modes, "mnuFastMode", 1);
  mnuSecureMode->setChecked(true);

  auto* grid = new QGridLayout(pnlTop);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(4);
  grid->addWidget(wlTo, 0, 0);
  grid->addWidget(eTo, 0, 1);
  grid->addWidget(lblSubject, 1, 0);
  grid->addWidget(eSubject, 1, 1);
  auto* choices = new QHBoxLayout;
  choices->setSpacing(2);
  for (QWidget* w : {static_cast<QWidget*>(btnSendingMode), static_cast<QWidget*>(btnPriority),
                     static_cast<QWidget*>(btnReceiveReport), static_cast<QWidget*>(btnReadReport)})
    choices->addWidget(w);
  choices->addStretch(1);
  choices->addWidget(chkFAU);
  grid->addLayout(choices, 2, 1);
  grid->setColumnStretch(1, 1);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(tbNewMail);
  column->addWidget(pnlTop);

  connect(eTo, &QLineEdit::textChanged, this, [this] { eToChange(); });
  connect(lbContacts, &QListWidget::itemClicked, this, [this] { lbContactsClick(); });
  connect(wlTo, &QPushButton::clicked, this, [this] { wlToClick(); });
  connect(btnPriority, &QToolButton::clicked, this, [this] { btnPriorityClick(); });
  connect(btnSendingMode, &QToolButton::clicked, this, [this] { btnSendingModeClick(); });
  connect(pmPriority, &QMenu::triggered, this, [this](QAction* a) { mnuLowPriorityClick(a); });
  connect(pmSendingMode, &QMenu::triggered, this, [this](QAction* a) { mnuFastModeClick(a); });
  eTo->installEventFilter(this);
  lbContacts->viewport()->installEventFilter(this);
}

void TframeNewMailTop::LoadGlyphs() {
  mnuLowPriority->setIcon(Glyph("ico_priority0"));
  mnuNormalPriority->setIcon(Glyph("ico_priority1"));
  mnuHighPriority->setIcon(Glyph("ico_priority2"));
  mnuSecureMode->setIcon(Glyph("ico_send_secure16"));
  mnuFastMode->setIcon(Glyph("ico_send_fast16"));
  btnReadReport->setIcon(Glyph("ico_mail_read16"));
  btnReceiveReport->setIcon(Glyph("ico_mail_received16"));
}

void TframeNewMailTop::PlaceContactsList(QWidget* host) {
  if (lbContacts->parentWidget() != host) {
    lbContacts->setParent(host);
    lbContacts->hide();
  }
  const QPoint at = eTo->mapTo(host, QPoint(0, eTo->height()));
  lbContacts->setGeometry(at.x(), at.y(), eTo->width(),
                          3 * kListItemHeight + 2 * lbContacts->frameWidth());
  lbContacts->raise();
}

void TframeNewMailTop::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  if (QWidget* host = lbContacts->parentWidget(); host && host != this) PlaceContactsList(host);
}

void TframeNewMailTop::ShowContacts(bool show) {
  if (show) {
    if (QWidget* host = lbContacts->parentWidget(); host && host != this) PlaceContactsList(host);
    lbContacts->show();
    lbContacts->raise();
  } else {
    lbContacts->hide();
  }
}

bool TframeNewMailTop::FillContactSuggestions(const QString& fragment) {
  if (!qovra::AddrBookDb.IsOpen()) return false;
  lbContacts->clear();
  std::vector<std::u16string> found;
  (void)qovra::compose::FillContactSuggestions(qovra::AddrBookDb, fragment.toStdU16String(), found);
  for (const std::u16string& s : found) {
    auto* item = new QListWidgetItem(QString::fromStdU16String(s));
    item->setSizeHint(QSize(0, kListItemHeight));
    lbContacts->addItem(item);
  }
  return lbContacts->count() > 0;
}

void TframeNewMailTop::eToChange() {
  const QString text = eTo->text();
  if (text.isEmpty()) {
    ShowContacts(false);
    return;
  }
  const std::u16string fragment = qovra::compose::CompletionFragment(
      text.toStdU16String(), static_cast<size_t>(eTo->cursorPosition()));
  if (FillContactSuggestions(QString::fromStdU16String(fragment))) {
    ShowContacts(true);
    lbContacts->setCurrentRow(0);
  } else {
    ShowContacts(false);
  }
}

void TframeNewMailTop::lbContactsClick() {
  if (lbContacts->count() == 0 || !lbContacts->currentItem()) return;
  const std::u16string text = qovra::compose::AcceptSuggestion(
      eTo->text().toStdU16String(), static_cast<size_t>(eTo->cursorPosition()),
      lbContacts->currentItem()->text().toStdU16String());
  {
    const QSignalBlocker block(eTo);
    eTo->setText(QString::fromStdU16String(text));
  }
  eTo->setCursorPosition(static_cast<int>(eTo->text().size()));
  ShowContacts(false);
  emit eTo->textEdited(eTo->text());  // the host marks the window modified
}

bool TframeNewMailTop::eToKeyDown(int key) {
  const bool shown = lbContacts->isVisible();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (shown && lbContacts->currentItem()) lbContactsClick();
      return true;
    case Qt::Key_Escape:
      ShowContacts(false);
      return true;
    case Qt::Key_Up:
      if (!shown) return false;
      if (lbContacts->currentRow() > 0) lbContacts->setCurrentRow(lbContacts->currentRow() - 1);
      return true;
    case Qt::Key_Down:
      if (!shown) return false;
      if (lbContacts->currentRow() < lbContacts->count() - 1)
        lbContacts->setCurrentRow(lbContacts->currentRow() + 1);
      return true;
    default:
      return false;
  }
}

void TframeNewMailTop::eToExit() {
  if (!lbContacts->hasFocus()) ShowContacts(false);
}

void TframeNewMailTop::eToMouseWheel(bool down) {
  if (!lbContacts->isVisible()) return;
  QScrollBar* bar = lbContacts->verticalScrollBar();
  bar->triggerAction(down ? QAbstractSlider::SliderSingleStepAdd
                          : QAbstractSlider::SliderSingleStepSub);
}

void TframeNewMailTop::lbContactsMouseMove(const QPoint& pos) {
  if (QListWidgetItem* item = lbContacts->itemAt(pos)) lbContacts->setCurrentItem(item);
}

bool TframeNewMailTop::eventFilter(QObject* watched, QEvent* event) {
  if (watched == eTo) {
    switch (event->type()) {
      case QEvent::ShortcutOverride: {
        // While the list is shown, Escape and Enter belong to it and not
        // to the window's shortcuts.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (lbContacts->isVisible() &&
            (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
          event->accept();
          return true;
        }
        break;
      }
      case QEvent::KeyPress:
        if (eToKeyDown(static_cast<QKeyEvent*>(event)->key())) return true;
        break;
      case QEvent::FocusOut:
        eToExit();
        break;
      case QEvent::Wheel:
        if (lbContacts->isVisible()) {
          eToMouseWheel(static_cast<QWheelEvent*>(event)->angleDelta().y() < 0);
          return true;
        }
        break;
      default:
        break;
    }
  } else if (watched == lbContacts->viewport() && event->type() == QEvent::MouseMove) {
    lbContactsMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
  }
  return QFrame::eventFilter(watched, event);
}

void TframeNewMailTop::wlToClick() {
  TfrmContactsList picker(qovra::AddrBookDb, this);
  const bool show_groups = qovra::Options.Mail.showgrp != 0;
  if (picker.Execute(eTo->text(), show_groups) == 1) {
    eTo->setText(picker.ResultText);
    emit eTo->textEdited(eTo->text());
  }
  eTo->setFocus();
}

void TframeNewMailTop::PopUnder(QToolButton* button, QMenu* menu) {
  for (QAction* a : menu->actions()) a->setProperty("measureWidth", button->width() - 18);
  menu->setMinimumWidth(std::max(0, button->width() - 18));
  menu->popup(pnlTop->mapToGlobal(QPoint(button->x(), button->y() + button->height())));
}

void TframeNewMailTop::btnPriorityClick() {
  PopUnder(btnPriority, pmPriority);
}

void TframeNewMailTop::mnuLowPriorityClick(QAction* item) {
  if (!item) return;
  item->setChecked(true);
  btnPriority->setText(item->text());
  btnPriority->setIcon(item->icon());
  priority_tag_ = item->data().toInt();
  QPalette pal = btnPriority->palette();
  QColor colour = palette().color(QPalette::ButtonText);
  if (priority_tag_ == 1) colour = QColor(0, 128, 0);
  if (priority_tag_ == 2) colour = QColor(128, 0, 0);
  // Disabled (while the window is busy) it greys like the other buttons.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    pal.setColor(group, QPalette::ButtonText, colour);
  btnPriority->setPalette(pal);
}

void TframeNewMailTop::btnSendingModeClick() {
  PopUnder(btnSendingMode, pmSendingMode);
}

void TframeNewMailTop::mnuFastModeClick(QAction* item) {
  if (!item) return;
  item->setChecked(true);
  btnSendingMode->setText(item->text());
  btnSendingMode->setIcon(item->icon());
  sending_mode_tag_ = item->data().toInt();
}
