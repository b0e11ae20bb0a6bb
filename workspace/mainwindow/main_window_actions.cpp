// TfrmMain: the actions' handlers and enabling, the list's mouse and key
// handling, and the edit menu.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "qovra/account/change_password.h"
#include "qovra/account/user_profile.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"

using qovra::ui::TMailListModel;

void TfrmMain::ConnectActions() {
  auto* a = alMain;
  ConnectMailCommands();
  connect(a->acMailReceive, &QAction::triggered, this, [this] { (void)acMailReceiveExecute(); });
  connect(a->acMailNew, &QAction::triggered, this, [this] { (void)acMailNewExecute(); });
  connect(a->acToolsContactsBook, &QAction::triggered, this, &TfrmMain::acToolsContactsBookExecute);
  connect(a->acMailNewVoice, &QAction::triggered, this, [this] { (void)acMailNewVoiceExecute(); });
  connect(a->acMailSend, &QAction::triggered, this, [this] { (void)acMailSendExecute(); });
  connect(a->acMailOpen, &QAction::triggered, this, [this] { (void)acMailOpenExecute(); });
  connect(a->acMailSignDetails, &QAction::triggered, this, &TfrmMain::acMailSignDetailsExecute);
  connect(a->acMailReport, &QAction::triggered, this, [this] { (void)acMailReportExecute(); });
  connect(a->acMailPrint, &QAction::triggered, this, [this] { (void)acMailPrintExecute(); });
  connect(a->acMailImport, &QAction::triggered, this, &TfrmMain::acMailImportExecute);
  connect(a->acWorkOffline, &QAction::triggered, this, &TfrmMain::acWorkOfflineExecute);
  connect(a->acToolsChangePassword, &QAction::triggered, this,
          &TfrmMain::acToolsChangePasswordExecute);
  connect(a->acToolUserProfile, &QAction::triggered, this, &TfrmMain::acToolUserProfileExecute);
  connect(a->acToolsFind, &QAction::triggered, this, &TfrmMain::acToolsFindExecute);
  connect(a->acToolsOptions, &QAction::triggered, this, &TfrmMain::acToolsOptionsExecute);
  connect(a->acHelpAbout, &QAction::triggered, this, [this] { qovra::ui::ShowAboutBox(this); });
  connect(a->acExit, &QAction::triggered, this, &QWidget::close);
  connect(a->acHelpCheckUpdate, &QAction::triggered, this, &TfrmMain::acHelpCheckUpdateExecute);
  connect(pnlStatusBar->wlUpdate, &qovra::ui::TWebLink::OnClick, this, &TfrmMain::wlUpdateClick);

  connect(tvMain, &QTreeWidget::currentItemChanged, this, [this] { tvMainChange(); });
  connect(lvMain->header(), &QHeaderView::sectionClicked, this, &TfrmMain::lvMainHeaderClick);
  connect(lvMain, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) alMain->acMailOpen->trigger();
  });
  connect(lvMain, &QWidget::customContextMenuRequested, this, &TfrmMain::lvMainContextPopup);
  connect(lvMain->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateSelectionActions(); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { UpdateSelectionActions(); });

  QLineEdit* edit = frameSearchEdit1->eSearch();
  connect(edit, &QLineEdit::textChanged, this, [this] { eSearchTextChanged(); });
  edit->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(edit, &QWidget::customContextMenuRequested, this,
          [this, edit](const QPoint& pos) { pmEdit->popup(edit->mapToGlobal(pos)); });

  // The edit menu works on the focused line edit.
  auto focused = [] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); };
  QAction* undo = pmEdit->addAction(QStringLiteral("&Undo"));
  pmEdit->addSeparator();
  QAction* cut = pmEdit->addAction(QStringLiteral("Cu&t"));
  QAction* copy = pmEdit->addAction(QStringLiteral("&Copy"));
  QAction* paste = pmEdit->addAction(QStringLiteral("&Paste"));
  QAction* del = pmEdit->addAction(QStringLiteral("&Delete"));
  pmEdit->addSeparator();
  QAction* all = pmEdit->addAction(QStringLiteral("Select &all"));
  undo->setObjectName(QStringLiteral("mnuEditUndo"));
  cut->setObjectName(QStringLiteral("mnuEditCut"));
  copy->setObjectName(QStringLiteral("mnuEditCopy"));
  paste->setObjectName(QStringLiteral("mnuEditPaste"));
  del->setObjectName(QStringLiteral("mnuEditDelete"));
  all->setObjectName(QStringLiteral("mnuEditSelectAll"));
  connect(undo, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->undo();
  });
  connect(cut, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->cut();
  });
  connect(copy, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->copy();
  });
  connect(paste, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->paste();
  });
  connect(del, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->del();
  });
  connect(all, &QAction::triggered, this, [focused] {
    if (auto* e = focused()) e->selectAll();
  });
  connect(pmEdit, &QMenu::aboutToShow, this, [=] {
    QLineEdit* e = focused();
    const bool has_selection = e && e->hasSelectedText();
    undo->setEnabled(e && e->isUndoAvailable());
    cut->setEnabled(has_selection);
    copy->setEnabled(has_selection);
    del->setEnabled(has_selection);
    const QClipboard* clip = QApplication::clipboard();
    paste->setEnabled(e && clip && !clip->text().isEmpty());
    all->setEnabled(e && e->selectedText().size() < e->text().size());
  });
}

void TfrmMain::UpdateOnlineActions() {
  UpdateSelectionActions();
}

void TfrmMain::UpdateSelectionActions() {
  qovra::ui::TActionContext context;
  context.online = qovra::Session.State == 1;
  const std::vector<int> rows = SelectedRows();
  context.selected = static_cast<int>(rows.size());
  // An open viewer's commands follow its mail, whatever the list shows.
  if (const std::optional<TMailSource> viewer = ViewerSource()) {
    context.selected = 1;
    context.single_replyable = qovra::ui::MailCanBeReplied(viewer->Mail.FromAddress.view(),
                                                           viewer->Mail.Flags, OwnAddress());
  } else if (rows.size() == 1) {
    const qovra::ui::TMailListRow& row = model->Row(rows.front());
    context.single_replyable =
        qovra::ui::MailCanBeReplied(row.FromAddress, row.Flags, OwnAddress());
  }
  alMain->Apply(context);
}

std::vector<int> TfrmMain::SelectedRows() const {
  std::vector<int> rows;
  if (!lvMain->selectionModel()) return rows;
  for (const QModelIndex& index : lvMain->selectionModel()->selectedRows())
    if (index.row() >= 0 && index.row() < model->Count()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::optional<qovra::TMailMessage> TfrmMain::SelectedMailCopy() const {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) return std::nullopt;
  return model->Row(rows.front()).ToMailMessage();
}

void TfrmMain::lvMainHeaderClick(int column) {
  if (column < TMailListModel::kColAddress || column > TMailListModel::kColRead) {
    // Columns 0 and 1 do not sort; keep the indicator where it was.
    lvMain->header()->setSortIndicator(model->SortColumn(), model->SortOrder());
    return;
  }
  const Qt::SortOrder order =
      model->SortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  model->sort(column, order);
  lvMain->header()->setSortIndicator(column, order);
}

void TfrmMain::lvMainContextPopup(const QPoint& pos) {
  const QModelIndex hit = lvMain->indexAt(pos);
  if (!hit.isValid() && SelectedRows().empty()) return;
  pmList->popup(lvMain->viewport()->mapToGlobal(pos));
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key_event = static_cast<QKeyEvent*>(event);
    const int key = key_event->key();
    if (watched == lvMain && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
        IsPlainKey(*key_event)) {
      if (alMain->acMailOpen->isEnabled()) alMain->acMailOpen->trigger();
      return true;
    }
    if (watched == frameSearchEdit1->eSearch() && eSearchKeyPress(*key_event)) return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::acToolsFindExecute(bool checked) {
  frameSearchEdit1->setVisible(checked);
  if (checked) {
    frameSearchEdit1->eSearch()->setFocus();
  } else {
    frameSearchEdit1->eSearch()->clear();
    lvMain->setFocus();
  }
}

void TfrmMain::acToolsChangePasswordExecute() {
  if (qovra::Session.State == 2 && qovra::Options.Keys.keyssrc == 1) {
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgChangingPasswordNotAvailable");
    return;
  }
  TfrmChangePassword dialog(this);
  (void)dialog.exec();
}

void TfrmMain::acToolUserProfileExecute() {
  TfrmUserProfile dialog(this);
  dialog.Preset(qovra::Session.OwnContact);
  if (dialog.exec() == TfrmUserProfile::kResultDone) UpdateTitle();
}
