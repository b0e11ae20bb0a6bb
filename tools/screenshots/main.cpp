// Renders chosen windows with fixture data into PNG files, for review.
//
//   screenshots --out <folder> [window ...]
//
// Windows: msg-error, msg-question, msg-info, msg-plain, progress, about,
// menu, main, login, password, register, forget-1 to forget-4 (the pages
// of the recovery wizard), chpass, profile, import, picker, dupdialog, addrbook, compose,
// voice-compose, viewer, viewer-status<code> (each signature verdict), voice-viewer, signdetails,
// mailreport, reply,
// main-900x600, main-640x420 (the main window at those sizes),
// settings-1 to settings-5 (the settings dialog on each of its pages) (all
// of them when none is named). Each window is shown over an owner
// window and saved twice: <name>.png holds the window alone, and
// <name>-screen.png the part of the screen around the owner, showing where
// the window sits. Run it under Xvfb (scripts/screenshots.sh).
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <map>
#include <utility>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/utf.h"
#include "mail/receiving_reports.h"
#include "mail/sending.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "qovra/account/change_password.h"
#include "qovra/account/forget_window.h"
#include "qovra/account/login_window.h"
#include "qovra/account/options_dialog.h"
#include "qovra/account/options_pages.h"
#include "qovra/account/password_prompt.h"
#include "qovra/account/register_window.h"
#include "qovra/account/us_keyboard.h"
#include "qovra/account/user_profile.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/addressbook/dup_dialog.h"
#include "qovra/controls/button_edit.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/menu_style.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/import_form.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/mail_report.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sign_details.h"
#include "qovra/workspace/sound_tool.h"
#include "qovra/workspace/view_mail.h"
#include "qovra/workspace/view_voice_mail.h"
#include "seam/ui_seam.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"

namespace {

// Lets the window system map, expose and paint what was shown.
void Settle(int ms = 150) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool SaveBoth(QWidget* window, QWidget* owner, const QString& dir, const QString& name);

// While a shot waits for clicks from outside, saves the modal dialog they
// open (a file chooser, a question) as it stands, again and again until it
// closes: <prefix>-modal<n>.png and <prefix>-modal<n>-screen.png, n
// counting the dialogs.
class ModalShots : public QObject {
 public:
  ModalShots(QString dir, QString prefix) : dir_(std::move(dir)), prefix_(std::move(prefix)) {
    connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
    timer_.start(1000);
  }

 private:
  void Check() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (modal != last_) {
      last_ = modal;
      ++count_;
      return;  // saved from the next tick on, once it has settled
    }
    QWidget* owner = modal->parentWidget() ? modal->parentWidget()->window() : modal;
    (void)SaveBoth(modal, owner, dir_, prefix_ + QStringLiteral("-modal%1").arg(count_));
  }

  QString dir_;
  QString prefix_;
  QTimer timer_;
  QPointer<QWidget> last_;
  int count_ = 0;
};

class OwnerWindow : public QWidget {
 public:
  OwnerWindow() {
    setWindowTitle(QStringLiteral("Qovra"));
    setGeometry(60, 60, 760, 440);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(214, 219, 228));
    setPalette(p);
    setAutoFillBackground(true);
    auto* label = new QLabel(QStringLiteral("Owner window"), this);
    label->setGeometry(20, 380, 300, 30);
  }
};

bool Save(const QPixmap& pixmap, const QString& file) {
  if (pixmap.isNull() || !pixmap.save(file, "PNG")) {
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

bool SaveBoth(QWidget* window, QWidget* owner, const QString& dir, const QString& name) {
  bool ok = Save(window->grab(), dir + "/" + name + ".png");
  QScreen* screen = owner->screen();
  if (screen) {
    const QRect around = owner->frameGeometry().adjusted(-20, -20, 20, 20);
    ok = Save(screen->grabWindow(0, around.x(), around.y(), around.width(), around.height()),
              dir + "/" + name + "-screen.png") &&
         ok;
  }
  return ok;
}

bool ShootMessage(const QString& dir, const QString& name, int flags, const QString& text,
                  const QString& ok, const QString& no, const QString& cancel) {
  OwnerWindow owner;
  owner.show();
  Settle();
  TfrmMsg dialog;
  dialog.Prepare(&owner, text, flags, ok, no, cancel);
  dialog.show();
  Settle(400);  // the slide runs on its timer
  dialog.FinishSlide();
  Settle();
  return SaveBoth(&dialog, &owner, dir, name);
}

// The language of the shots: QOVRA_LANGID (0 Uzbek, 1 Russian; default 1).
int ShotLangId() {
  return qEnvironmentVariableIsSet("QOVRA_LANGID") ? qEnvironmentVariableIntValue("QOVRA_LANGID")
                                                   : 1;
}

bool ShootProgress(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::ui::TProgressDisplay display;
  qovra::SetProgressUi(&display);
  qovra::ui::ShowProgress(&owner, true, QStringLiteral("Sending mail"),
                          QStringLiteral("Encrypting attachment report.pdf..."));
  // The GUI thread stays busy from here on, as in a server request: the
  // screen must show the window and its bar without any event processing.
  for (int done = 0; done <= 450; done += 15) {
    qovra::ProgressCallback(display.Form()->progBar, 1000, done);
    QThread::msleep(10);
  }
  const bool ok = SaveBoth(display.Form(), &owner, dir, QStringLiteral("progress"));
  qovra::ui::HideProgress(&owner, false);
  qovra::SetProgressUi(nullptr);
  return ok;
}

bool ShootAbout(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = ShotLangId();
  TfrmAbout box(&owner);
  box.show();
  Settle();
  return SaveBoth(&box, &owner, dir, QStringLiteral("about"));
}

bool ShootMenu(const QString& dir) {
  OwnerWindow owner;
  auto* bar = new QMenuBar(&owner);
  bar->setGeometry(0, 0, owner.width(), 24);
  QMenu* mail = bar->addMenu(QStringLiteral("&Mail"));
  bar->addMenu(QStringLiteral("&Tools"));
  bar->addMenu(QStringLiteral("&Help"));
  mail->addAction(QStringLiteral("&New mail"))->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
  mail->addAction(qovra::ui::MainIcon(), QStringLiteral("&Receive"))
      ->setShortcut(QKeySequence(QStringLiteral("F5")));
  QMenu* reply = mail->addMenu(QStringLiteral("Re&ply"));
  reply->addAction(QStringLiteral("Reply"));
  mail->addSeparator();
  mail->addAction(QStringLiteral("&Print"))->setEnabled(false);
  QAction* offline = mail->addAction(QStringLiteral("Work &offline"));
  offline->setCheckable(true);
  offline->setChecked(true);
  mail->addSeparator();
  mail->addAction(QStringLiteral("E&xit"));
  qovra::ui::ApplyMenuStyle(bar);
  owner.show();
  Settle();
  mail->popup(owner.mapToGlobal(QPoint(0, 24)));
  Settle();
  mail->setActiveAction(mail->actions().at(1));
  Settle();
  const bool ok = SaveBoth(mail, &owner, dir, QStringLiteral("menu"));
  mail->hide();
  return ok;
}

// The main window of a demo user whose inbox holds a few mails, at size
// (main.png), or at a window size a desktop gives a window that is not
// maximised (main-900x600.png, main-640x420.png). With QOVRA_SHOT_WAIT=<ms>
// the sized shots stay open that long (for clicks and resizing from
// outside) and save <name>-after.png too.
bool ShootMain(const QString& dir, const QString& name = QStringLiteral("main"),
               const QSize& size = QSize(1100, 640)) {
  QTemporaryDir user;
  if (!user.isValid()) return false;
  const QString bin = QCoreApplication::applicationDirPath();
  const QString db = user.filePath(QStringLiteral("ecm.edb"));
  if (!QFile::copy(bin + QStringLiteral("/ecm.edb"), db)) {
    std::fprintf(stderr, "screenshots: no template %s/ecm.edb\n", qPrintable(bin));
    return false;
  }
  qovra::ProgramDir = bin.toStdString() + "/";
  qovra::Options.langid = ShotLangId();
  qovra::ApplyLanguageMessages();
  qovra::AppTitle = "Qovra";
  qovra::Session.State = 1;
  qovra::Session.OwnContact.Email = "bob@localhost";
  qovra::Session.OwnContact.FirstName = u"Bob";
  qovra::Session.OwnContact.LastName = u"Demo";
  if (!qovra::MailDb.Open(db.toStdString())) return false;
  struct Seed {
    int32_t folder;
    const char* from;
    const char* to;
    const char16_t* subject;
    uint16_t flags;
    uint8_t priority;
    double sent;
  };
  const Seed seeds[] = {
      {0, "alice@localhost", "bob@localhost", u"Квартальный отчёт", 0x11, 2, 45650.40},
      {0, "carol@127.0.0.1", "bob@localhost", u"Q&A <agenda>", 0x10, 1, 45650.38},
      {0, "alice@localhost", "bob@localhost;dave@localhost;erin@localhost", u"Голосовое сообщение",
       0x32, 1, 45649.71},
      {0, "dave@localhost", "bob@localhost", u"Обед в пятницу", 0x30, 0, 45648.55},
      {2, "bob@localhost", "alice@localhost", u"Re: Квартальный отчёт", 0x08, 1, 45650.45},
  };
  int n = 0;
  for (const Seed& s : seeds) {
    qovra::TMailMessage m;
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xD0000 + ++n);
    m.Uuid = uuid;
    m.FromAddress = s.from;
    (void)qovra::SplitAddressList(m.Recipients, s.to, ';');
    m.Subject = std::u16string(s.subject);
    m.FolderId = s.folder;
    m.Flags = s.flags;
    m.Priority = s.priority;
    m.SentTime = s.sent;
    m.ReceivedTime = s.folder == 0 ? s.sent + 0.001 : 0;
    (void)qovra::SaveMailToDatabase(qovra::MailDb, m, "bob@localhost", nullptr, nullptr, false);
  }
  bool ok = false;
  {
    TfrmMain window;
    window.setGeometry(40, 40, size.width(), size.height());
    window.show();
    Settle(300);
    // The first activation maximises it; the user made it smaller again.
    window.showNormal();
    window.setGeometry(40, 40, size.width(), size.height());
    Settle(300);
    window.lvMain->setCurrentIndex(window.model->index(0, 2));
    Settle();
    ok = Save(window.grab(), dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
    if (wait > 0 && name != QStringLiteral("main")) {
      std::printf("%s: waiting %d ms\n", qPrintable(name), wait);
      std::fflush(stdout);
      const ModalShots modals(dir, name);
      Settle(wait);
      ok = Save(window.grab(), dir + QLatin1Char('/') + name + QStringLiteral("-after.png")) && ok;
    }
  }
  qovra::MailDb.Close();
  return ok;
}

// The login window of a user whose last login was bob, on a configured server.
bool ShootLogin(const QString& dir) {
  qovra::ProgramDir = QCoreApplication::applicationDirPath().toStdString() + "/";
  qovra::Options.langid = ShotLangId();
  qovra::ApplyLanguageMessages();
  qovra::Options.Conn.srvaddr = "127.0.0.1:8480";
  qovra::Options.Other.lastlgn = "bob";
  TfrmLogin window;
  window.SetUsLayoutSwitch([] {});
  window.RefreshFromOptions(false);
  window.show();
  Settle(400);  // the fade-in
  return Save(window.grab(), dir + QStringLiteral("/login.png"));
}

// The settings dialog of a configured user on page (0-4), key paths shown.
bool ShootSettings(const QString& dir, int page) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = ShotLangId();
  qovra::ApplyLanguageMessages();
  qovra::Options.Conn.srvaddr = "127.0.0.1:8480";
  qovra::Options.Conn.useprxy = 1;
  qovra::Options.Conn.prxaddr = "proxy.example.uz";
  qovra::Options.Conn.prxport = 3128;
  qovra::Options.Keys.crtpath = u"/home/bob/keys/bob.cer";
  qovra::Options.Keys.pvkpath = u"/home/bob/keys/bob.prk";
  qovra::Options.Folders.maildir = u"/home/bob/Documents";
  qovra::Options.Mail.reffreq = 600;
  qovra::Options.Mail.showgrp = 1;
  TfrmOptions dialog(&owner);
  dialog.show();
  Settle();
  dialog.lbMenu->setCurrentRow(page);
  if (auto* keys = dynamic_cast<TfrmOptKeys*>(dialog.FindPage(qovra::account::kPageKeys));
      keys && page == qovra::account::kPageKeys)
    keys->btnHideKeyPathsClick();
  Settle(300);
  const bool ok = SaveBoth(&dialog, &owner, dir, QStringLiteral("settings-%1").arg(page + 1));
  qovra::Options = qovra::TOptions{};
  return ok;
}

// The password prompt asking for the key device's PIN.
bool ShootPassword(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = ShotLangId();
  TfrmPassword prompt(&owner);
  bool ok = false;
  QTimer::singleShot(0, &prompt, [&] {
    Settle(300);
    ok = SaveBoth(&prompt, &owner, dir, QStringLiteral("password"));
    prompt.reject();
  });
  (void)prompt.Execute(QStringLiteral("Ключевой носитель"),
                       QStringLiteral("Введите PIN-код ключевого носителя:"), 2,
                       QStringLiteral("ico_lock48"));
  return ok;
}

// Runs dialog modally over owner and saves it as name once it has painted.
bool ShootModal(QDialog& dialog, QWidget& owner, const QString& dir, const QString& name) {
  bool ok = false;
  QTimer::singleShot(0, &dialog, [&] {
    Settle(300);
    ok = SaveBoth(&dialog, &owner, dir, name);
    dialog.reject();
  });
  (void)dialog.exec();
  return ok;
}

// The password change online with the current password typed, and offline
// after a key-device login (the reset state): chpass.png, chpass-reset.png.
bool ShootChangePassword(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Session.State = 1;
  bool ok = false;
  {
    TfrmChangePassword dialog(&owner);
    dialog.eCurPassword->setText(QStringLiteral("bob-demo"));
    ok = ShootModal(dialog, owner, dir, QStringLiteral("chpass"));
  }
  qovra::Session.State = 2;
  qovra::Session.OfflinePasswordHash = {};
  {
    TfrmChangePassword dialog(&owner);
    ok = ShootModal(dialog, owner, dir, QStringLiteral("chpass-reset")) && ok;
  }
  qovra::Session.Clear();
  return ok;
}

// The profile dialog of a user with every field filled.
bool ShootProfile(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::TContact contact;
  contact.FirstName = u"Бобур";
  contact.MiddleName = u"Алишерович";
  contact.LastName = u"Каримов";
  contact.Company = u"АО «Узбектелеком»";
  contact.JobTitle = u"Главный бухгалтер";
  TfrmUserProfile dialog(&owner);
  dialog.Preset(contact);
  return ShootModal(dialog, owner, dir, QStringLiteral("profile"));
}

// The import dialog with a folder chosen.
bool ShootImport(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  TfrmImport dialog(&owner);
  dialog.eImportFolder->setText(QDir::homePath() + QStringLiteral("/Documents/mail"));
  return ShootModal(dialog, owner, dir, QStringLiteral("import"));
}

// The registration form filled in, the login proposed from the names.
bool ShootRegister(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = ShotLangId();
  TfrmRegister form(&owner);
  form.SetKeyboardSwitch(nullptr);
  form.eDomain->setText(QStringLiteral("127.0.0.1:8480"));
  form.eLastName->setText(QStringLiteral("Нок"));
  form.eFirstName->setText(QStringLiteral("Олма"));
  form.eMiddleName->setText(QStringLiteral("Ивановна"));
  form.eCompany->setText(QStringLiteral("Тошкент филиали"));
  form.ePassword->setText(QStringLiteral("secret-1"));
  form.eConfirmPassword->setText(QStringLiteral("secret-1"));
  form.cbSecurityQuestion->setCurrentIndex(2);
  form.eAnswer->setText(QStringLiteral("Мурка"));
  form.show();
  Settle(300);
  return SaveBoth(&form, &owner, dir, QStringLiteral("register"));
}

// The recovery wizard on page (1-4), the fields as a user fills them.
bool ShootForget(const QString& dir, int page) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = ShotLangId();
  TfrmForget form(&owner);
  form.eLogin->setText(QStringLiteral("o.nok"));
  for (int p = 1; p < page; ++p) form.NextPage();
  form.lblQuestion->setText(QString::fromStdString(qovra::GetMsg("strQuestion2")));
  if (page == 2) form.eAnswer->setText(QStringLiteral("Мурка"));
  if (page == 3) {
    form.eNewPassword->setText(QStringLiteral("new-secret"));
    form.eConfirmPassword->setText(QStringLiteral("new-secret"));
  }
  form.show();
  Settle(300);
  return SaveBoth(&form, &owner, dir, QStringLiteral("forget-%1").arg(page));
}

// A book of a few dozen contacts in nested groups (a contact in two
// groups, some without a group) in a copy of the template.
bool SeedAddressBook(qovra::SqliteDb& db, const QTemporaryDir& folder) {
  const QString path = folder.filePath(QStringLiteral("eca.edb"));
  if (!QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/eca.edb"), path) ||
      !db.Open(path.toStdString())) {
    std::fprintf(stderr, "screenshots: no template eca.edb\n");
    return false;
  }
  const char* groups[][3] = {{"1", "Бухгалтерия", "0"}, {"2", "Отдел кадров", "0"},
                             {"3", "Руководство", "0"}, {"4", "Филиал Самарканд", "1"},
                             {"5", "Ревизия", "4"},     {"6", "Проекты", "0"}};
  for (const auto& g : groups) {
    qovra::SqliteStatement q =
        db.Prepare("INSERT INTO eca_groups (id,name,parent_id) VALUES (?,?,?)");
    if (!q.Bind(1, int64_t{std::atoi(g[0])})
             .Bind(2, g[1])
             .Bind(3, int64_t{std::atoi(g[2])})
             .Run()) {
      return false;
    }
  }
  const char* names[][3] = {
      {"Алишер", "Каримов", "alisher"},
      {"Мадина", "Юсупова", "madina"},
      {"Ольга", "Петрова", "olga"},
      {"Тимур", "Рахимов", "timur"},
      {"Дильноза", "Азимова", "dilnoza"},
      {"Сергей", "Иванов", "sergey"},
      {"Нодира", "Салимова", "nodira"},
      {"Бахтиёр", "Усмонов", "bakhtiyor"},
      {"Елена", "Ким", "elena"},
      {"Жасур", "Тошматов", "jasur"},
      {"Анна", "Ли", "anna"},
      {"Рустам", "Холматов", "rustam"},
      {"Гульнора", "Эргашева", "gulnora"},
      {"Павел", "Смирнов", "pavel"},
      {"Шахло", "Назарова", "shakhlo"},
      {"Фаррух", "Мирзаев", "farrukh"},
      {"Ирина", "Соколова", "irina"},
      {"Отабек", "Нуриддинов", "otabek"},
      {"Зарина", "Абдуллаева", "zarina"},
      {"Дмитрий", "Орлов", "dmitry"},
      {"Лола", "Хасанова", "lola"},
      {"Улугбек", "Саидов", "ulugbek"},
      {"Виктория", "Пак", "viktoria"},
      {"Шерзод", "Алиев", "sherzod"},
      {"Камола", "Турсунова", "kamola"},
      {"Андрей", "Волков", "andrey"},
      {"Малика", "Исмоилова", "malika"},
      {"Санжар", "Юлдашев", "sanjar"},
      {"Наталья", "Белова", "natalya"},
      {"Азиз", "Гафуров", "aziz"},
  };
  int id = 0;
  for (const auto& n : names) {
    ++id;
    qovra::SqliteStatement q = db.Prepare(
        "INSERT INTO eca_contacts (id,first_name,last_name,email,company_id,job_title_id) "
        "VALUES (?,?,?,?,0,0)");
    const std::string email = std::string(n[2]) + (id % 3 ? "@localhost" : "@127.0.0.1");
    if (!q.Bind(1, int64_t{id}).Bind(2, n[0]).Bind(3, n[1]).Bind(4, email).Run()) return false;
    // Contacts 27..30 have no group: the root shows them.
    if (id <= 26) {
      qovra::SqliteStatement link = db.Prepare("INSERT INTO eca_group_contacts VALUES (?,?)");
      if (!link.Bind(1, int64_t{1 + id % 6}).Bind(2, int64_t{id}).Run()) return false;
    }
  }
  // Olga heads a project too.
  return db.Exec("INSERT INTO eca_group_contacts VALUES (6,3)");
}

// The recipient picker over an owner, with the To text of a compose window
// naming two contacts and one address that is not in the book. With
// QOVRA_SHOT_WAIT=<ms> it stays open that long (for clicks from outside)
// and saves picker-after.png too.
bool ShootPicker(const QString& dir) {
  QTemporaryDir folder;
  qovra::SqliteDb db;
  if (!folder.isValid() || !SeedAddressBook(db, folder)) return false;
  OwnerWindow owner;
  owner.show();
  Settle();
  TfrmContactsList picker(db, &owner);
  picker.Prepare(QStringLiteral("olga@127.0.0.1; Тимур <timur@localhost>; guest@example.uz"));
  picker.move(owner.geometry().center() - QPoint(picker.width() / 2, picker.height() / 2));
  picker.show();
  Settle(300);
  bool ok = SaveBoth(&picker, &owner, dir, QStringLiteral("picker"));
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0) {
    std::printf("picker: waiting %d ms\n", wait);
    std::fflush(stdout);
    Settle(wait);
    ok = SaveBoth(&picker, &owner, dir, QStringLiteral("picker-after")) && ok;
    if (picker.isVisible()) picker.CollectChecked();  // else OK was pressed
    std::printf("picker result: %s\n", qPrintable(picker.ResultText));
  }
  picker.hide();
  return ok;
}

// The contacts book over an owner: 200 contacts in nested groups (the seed
// book and 170 more), a collapsed group, and the search line open with a
// hit inside that group. With QOVRA_SHOT_WAIT=<ms> it stays open that long
// (for keys, clicks and drags from outside) and saves addrbook-after.png.
bool ShootAddrBook(const QString& dir) {
  QTemporaryDir folder;
  qovra::SqliteDb db;
  if (!folder.isValid() || !SeedAddressBook(db, folder)) return false;
  const char* extra_groups[][3] = {
      {"7", "Ташкент", "6"}, {"8", "Наманган", "6"}, {"9", "Склад", "7"}, {"10", "Бригада 1", "9"}};
  for (const auto& g : extra_groups) {
    qovra::SqliteStatement q =
        db.Prepare("INSERT INTO eca_groups (id,name,parent_id) VALUES (?,?,?)");
    if (!q.Bind(1, int64_t{std::atoi(g[0])}).Bind(2, g[1]).Bind(3, int64_t{std::atoi(g[2])}).Run())
      return false;
  }
  const char* first[] = {"Азамат", "Барно", "Вера",   "Гайрат", "Дилшод", "Эльмира", "Жамшид",
                         "Зебо",   "Илхом", "Кирилл", "Лазиз",  "Мохира", "Нилуфар", "Олим"};
  const char* last[] = {"Абдуллаев", "Бекова",   "Валиев", "Газиева",  "Давлатов", "Ержанова",
                        "Жураев",    "Зокирова", "Исаев",  "Каримова", "Латипов",  "Махмудова"};
  for (int id = 31; id <= 200; ++id) {
    const std::string email = "user" + std::to_string(id) + "@localhost";
    qovra::SqliteStatement q = db.Prepare(
        "INSERT INTO eca_contacts (id,first_name,last_name,email,company_id,job_title_id) "
        "VALUES (?,?,?,?,0,0)");
    if (!q.Bind(1, int64_t{id}).Bind(2, first[id % 14]).Bind(3, last[id % 12]).Bind(4, email).Run())
      return false;
    qovra::SqliteStatement link = db.Prepare("INSERT INTO eca_group_contacts VALUES (?,?)");
    if (!link.Bind(1, int64_t{1 + id % 10}).Bind(2, int64_t{id}).Run()) return false;
  }
  OwnerWindow owner;
  owner.show();
  Settle();
  TfrmAddrBook book(db, &owner);
  book.OnNewMail = [](int kind, const QString& to) {
    std::printf("addrbook new mail %d: %s\n", kind, qPrintable(to));
  };
  book.Prepare();
  book.show();
  Settle(300);
  // Collapse "Бухгалтерия" and find a contact two groups below it.
  for (qovra::TContactNode* n = book.Model()->Tree().First(); n; n = qovra::TContactTree::Next(n))
    if (n->IsGroup && n->Record.Id == 1) book.vstAddrBook->collapse(book.Model()->IndexOf(n));
  book.acContactFindExecute();
  book.frameSearchEdit1->eSearch()->setText(QStringLiteral("тимур"));
  Settle(300);
  bool ok = SaveBoth(&book, &owner, dir, QStringLiteral("addrbook"));
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0) {
    // Questions as the program asks them, for the keys from outside.
    qovra::SetMessageUi(&qovra::ui::MessageDialogUi());
    qovra::SetDupDialogUi(&qovra::addressbook::DupDialogWindowUi());
    std::printf("addrbook: waiting %d ms\n", wait);
    std::fflush(stdout);
    Settle(wait);
    ok = SaveBoth(&book, &owner, dir, QStringLiteral("addrbook-after")) && ok;
    qovra::SetMessageUi(nullptr);
    qovra::SetDupDialogUi(nullptr);
  }
  book.hide();
  return ok;
}

// Bob's main window with a mail from Olga, who is in his address book, of
// several lines as this program writes them (CR LF), and the reply to it
// (reply.png: the quoted lines, no completion list over the subject).
// With QOVRA_SHOT_WAIT=<ms> the main window stays open that long instead,
// for the row and the reply to be clicked from outside.
bool ShootReply(const QString& dir) {
  QTemporaryDir user;
  if (!user.isValid() || !SeedAddressBook(qovra::AddrBookDb, user)) return false;
  const QString bin = QCoreApplication::applicationDirPath();
  const QString db = user.filePath(QStringLiteral("ecm.edb"));
  if (!QFile::copy(bin + QStringLiteral("/ecm.edb"), db) || !qovra::MailDb.Open(db.toStdString())) {
    std::fprintf(stderr, "screenshots: no template %s/ecm.edb\n", qPrintable(bin));
    return false;
  }
  qovra::UserDir = user.path().toStdString() + "/";
  qovra::MessagesDir = qovra::UserDir + "messages/";
  QDir().mkpath(QString::fromStdString(qovra::MessagesDir));
  QDir().mkpath(user.filePath(QStringLiteral("temp")));
  qovra::SetTempFolder(qovra::UserDir + "temp/");
  qovra::AppTitle = "Qovra";
  qovra::Session.State = 1;
  qovra::Session.OwnContact.Email = "bob@localhost";
  qovra::TMailMessage m;
  m.Uuid = "0000000000000000000000000000D0A1";
  m.FromAddress = "olga@127.0.0.1";
  (void)qovra::SplitAddressList(m.Recipients, "bob@localhost", ';');
  m.Subject = u"Чорак ҳисоботи";
  m.FolderId = qovra::kFolderInbox;
  m.Flags = qovra::mfReceived;
  m.SentTime = 46000.5;
  m.ReceivedTime = 46000.51;
  bool ok =
      qovra::SaveMailToDatabase(qovra::MailDb, m, "bob@localhost", nullptr, nullptr, false) > 0;
  {
    qovra::TEFileStream file(qovra::MessagesDir + std::string(m.Uuid.view()) + ".emz", true, false,
                             qovra::fmCreate);
    qovra::TMailWriter w(file, "", [] { return 46000.5; });
    w.AddMailHeaders("olga@127.0.0.1", m.Subject.str(), "bob@localhost");
    w.AddField("body",
               "Ассалому алайкум!\r\n\r\nЧорак ҳисоботи тайёр.\r\nЖадвални эртага юбораман."
               "\r\n\r\nҲурмат билан,\r\nОльга");
    ok = w.Finish() && ok;
  }
  if (ok) {
    TfrmMain window;
    window.setGeometry(40, 40, 1100, 640);
    window.show();
    Settle(300);
    window.SelectFolder(qovra::kFolderInbox);
    const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
    if (wait > 0) {
      std::printf("reply: waiting %d ms\n", wait);
      std::fflush(stdout);
      Settle(wait);
    } else {
      window.lvMain->setCurrentIndex(window.model->index(0, 2));
      Settle();
      bool shown = false;
      QTimer::singleShot(0, &window, [&] {
        TfrmNewMail* form = window.NewMailForm();
        if (!form) return;
        shown = true;
        Settle(300);
        ok = SaveBoth(form, &window, dir, QStringLiteral("reply"));
        form->done(2);
      });
      window.alMain->acMailReply->trigger();
      if (!shown) std::fprintf(stderr, "screenshots: no reply window\n");
      ok = shown && ok;
    }
  }
  qovra::MailDb.Close();
  qovra::AddrBookDb.Close();
  qovra::MessagesDir.clear();
  qovra::UserDir.clear();
  qovra::SetTempFolder("");
  return ok;
}

// The text compose window over an owner: three recipients typed, the
// completion list open for the fourth, a subject, a body and two
// attachments. With QOVRA_SHOT_WAIT=<ms> it stays open that long (for
// typing and clicks from outside) and saves compose-after.png too.
bool ShootCompose(const QString& dir) {
  QTemporaryDir folder;
  if (!folder.isValid() || !SeedAddressBook(qovra::AddrBookDb, folder)) return false;
  qovra::Session.OwnContact.Email = "alice@127.0.0.1";
  const QString report = folder.filePath(QStringLiteral("Ҳисобот 2026.pdf"));
  const QString table = folder.filePath(QStringLiteral("Жадвал.xlsx"));
  for (const auto& [path, size] : {std::pair{report, 734003}, std::pair{table, 18432}}) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(size)) return false;
  }
  OwnerWindow owner;
  owner.setGeometry(40, 40, 1000, 700);
  owner.show();
  Settle();
  // The main window's three commands with their texts and images.
  QWidget main_actions;
  main_actions.setProperty("qovraClass", QStringLiteral("TfrmMain"));
  auto command = [&main_actions](const char* name, const char* image) {
    auto* a = new QAction(&main_actions);
    a->setObjectName(QString::fromLatin1(name));
    a->setIcon(QIcon(QPixmap::fromImage(qovra::ui::LoadPngResource(QString::fromLatin1(image)))));
    return a;
  };
  TComposeCommands commands;
  commands.Send = command("acMailSend", "ico_mail_send32");
  commands.SaveToDrafts = command("acMailSaveToDrafts", "ico_mail_drafts32");
  commands.ContactsBook = command("acToolsContactsBook", "ico_vcard_check32");
  qovra::ApplyLanguage(&main_actions);
  TfrmNewMail form(commands, &owner);
  form.frameNewMailTop1->eSubject->setText(QStringLiteral("Чорак ҳисоботи"));
  form.eMailBody->setPlainText(QStringLiteral(
      "Ассалому алайкум!\n\nЧорак ҳисоботи ва жадвал илова қилинди.\n\nҲурмат билан,\nАлиса"));
  form.AttachFiles({report, table});
  form.show();
  Settle(300);
  form.frameNewMailTop1->eTo->setFocus();
  form.frameNewMailTop1->eTo->setText(
      QStringLiteral("Ольга Иванова <olga@127.0.0.1>; Тимур <timur@localhost>; ов"));
  Settle(300);
  bool ok = SaveBoth(&form, &owner, dir, QStringLiteral("compose"));
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0) {
    std::printf("compose: waiting %d ms\n", wait);
    std::fflush(stdout);
    TfrmNewMail::SetAttachChooser(
        [table](QWidget*) { return std::optional<QStringList>(QStringList{table}); });
    Settle(wait);
    TfrmNewMail::SetAttachChooser({});
    if (form.isVisible()) ok = SaveBoth(&form, &owner, dir, QStringLiteral("compose-after")) && ok;
    std::printf("compose to: %s\n", qPrintable(form.frameNewMailTop1->eTo->text()));
  }
  form.Modified = false;
  form.hide();
  qovra::AddrBookDb.Close();
  return ok;
}

// The voice compose window over an owner, recording through the fake
// audio backend (a level of 20, 12.34 seconds in), then again once the
// recording was stopped and compressed (voice-compose-after). With
// QOVRA_SHOT_WAIT=<ms> it stays open that long for clicks from outside and
// saves voice-compose-driven.png. QOVRA_SHOT_RECORD_MS=<ms> sets the
// length of each recording (300 ms unless set; a long one takes qovrasnd
// a while to compress); QOVRA_SHOT_SOUND_TOOL=<path> runs that program in
// place of qovrasnd (a slower one shows the window while it compresses).
bool ShootVoiceCompose(const QString& dir) {
  qovra::ui::testing::ScopedFakeAudio audio;
  if (const int ms = qEnvironmentVariableIntValue("QOVRA_SHOT_RECORD_MS"); ms > 0)
    audio->record_ms = ms;
  qovra::compose::SetSoundToolPathForTesting(
      qEnvironmentVariable("QOVRA_SHOT_SOUND_TOOL").toStdString());
  qovra::Session.OwnContact.Email = "alice@127.0.0.1";
  OwnerWindow owner;
  owner.setGeometry(40, 40, 1000, 700);
  owner.show();
  Settle();
  QWidget main_actions;
  main_actions.setProperty("qovraClass", QStringLiteral("TfrmMain"));
  auto command = [&main_actions](const char* name, const char* image) {
    auto* a = new QAction(&main_actions);
    a->setObjectName(QString::fromLatin1(name));
    a->setIcon(QIcon(QPixmap::fromImage(qovra::ui::LoadPngResource(QString::fromLatin1(image)))));
    return a;
  };
  TComposeCommands commands;
  commands.Send = command("acMailSend", "ico_mail_send32");
  commands.SaveToDrafts = command("acMailSaveToDrafts", "ico_mail_drafts32");
  qovra::ApplyLanguage(&main_actions);
  TfrmNewVoiceMail form(commands, &owner);
  form.frameNewMailTop1->eTo->setText(QStringLiteral("Тимур <timur@localhost>"));
  form.frameNewMailTop1->eSubject->setText(QStringLiteral("Овозли хабар"));
  form.show();
  Settle(300);
  form.btnRecord->click();
  Settle(100);
  if (audio->recording) {
    audio->recording->Level(20);
    audio->recording->position_ms = 12340;
  }
  form.timerPlayerTimer();
  bool ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-compose"));
  form.btnStop->click();
  Settle(300);
  ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-compose-after")) && ok;
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0) {
    std::printf("voice-compose: waiting %d ms\n", wait);
    std::fflush(stdout);
    // Questions as the program asks them, for the keys from outside.
    qovra::SetMessageUi(&qovra::ui::MessageDialogUi());
    Settle(wait);
    qovra::SetMessageUi(nullptr);
    if (form.isVisible())
      ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-compose-driven")) && ok;
  }
  form.Modified = false;
  form.HasVoice = false;
  form.hide();
  qovra::compose::SetSoundToolPathForTesting("");
  return ok;
}

// The duplicate question over the picker, opened to its full height.
bool ShootDupDialog(const QString& dir) {
  QTemporaryDir folder;
  qovra::SqliteDb db;
  if (!folder.isValid() || !SeedAddressBook(db, folder)) return false;
  TfrmContactsList picker(db);
  picker.Prepare(QString());
  picker.move(120, 80);
  picker.show();
  Settle();
  const QString text = QString::fromStdString(qovra::FormatMsgArgs(
      qovra::GetMsg("msgUpdateContactInfoAs"), "Петрова Ольга", "olga@127.0.0.1", "ООО «Восток»",
      "Бухгалтер", "Петрова Ольга Николаевна", "olga@127.0.0.1", "АО «Узбектелеком»",
      "Главный бухгалтер"));
  TfrmDupMsg dialog;
  dialog.Prepare(&picker, text);
  dialog.show();
  Settle(600);  // the opening runs on its timer
  dialog.FinishSlide();
  Settle();
  return SaveBoth(&dialog, &picker, dir, QStringLiteral("dupdialog"));
}

}  // namespace

// The main window's commands that a viewer binds to, with their pictures,
// named for the language file; the voice viewer has no print or save as.
TViewCommands MainViewCommands(QWidget& main_actions, bool text) {
  main_actions.setProperty("qovraClass", QStringLiteral("TfrmMain"));
  auto command = [&main_actions](const char* action, const char* image) {
    QAction* a = qovra::ui::NamedAction(&main_actions, action);
    a->setIcon(QIcon(QPixmap::fromImage(qovra::ui::LoadPngResource(QString::fromLatin1(image)))));
    return a;
  };
  TViewCommands commands;
  commands.Reply = command("acMailReply", "ico_mail_reply32");
  commands.Forward = command("acMailForward", "ico_mail_forward32");
  if (text) {
    commands.Print = command("acMailPrint", "ico_mail_print32");
    commands.SaveAs = command("acMailSaveAs", "ico_mail_save32");
  }
  commands.SaveAttachments = command("acMailAttachmentsSave", "ico_mail_attach_save32");
  commands.SignDetails = command("acMailSignDetails", "ico_mail_sign32");
  qovra::ApplyLanguage(&main_actions);
  return commands;
}

// Opens file in the viewer the way the main window does and fills it.
bool LoadViewerMail(TViewForm& form, const std::string& file) {
  form.MailStream = std::make_unique<qovra::TEFileStream>(file, true, false, qovra::fmOpenRead);
  form.Reader = std::make_unique<qovra::TMailReader>(*form.MailStream);
  form.Reader->SetReadInPlace(true);
  if (!form.Reader->Parse(nullptr, nullptr)) return false;
  form.FillFromReader();
  return true;
}

// The text viewer over an owner with a received mail of two attachments,
// its footer showing the signature verdict status (the codes of
// signature_check.h); name is the file name of the shot. With
// QOVRA_SHOT_WAIT=<ms> the plain viewer shot stays open that long (for
// clicks from outside, the dialogs they open saved as they show) and saves
// viewer-after.png too.
bool ShootViewer(const QString& dir, const QString& name, int status, uint16_t flags) {
  QTemporaryDir folder;
  if (!folder.isValid()) return false;
  const std::string file = folder.filePath(QStringLiteral("mail.emz")).toStdString();
  {
    qovra::TMemoryStream s;
    qovra::TMailWriter w(s, "", [] { return 46000.5; });
    w.AddMailHeaders("Алиса <alice@127.0.0.1>", u"Чорак ҳисоботи", "bob@localhost");
    w.AddField("body",
               "Ассалому алайкум!\r\n\r\nЧорак ҳисоботи ва жадвал илова қилинди.\r\n\r\n"
               "Ҳурмат билан,\r\nАлиса");
    for (const auto& [n, size] :
         {std::pair{u"Ҳисобот 2026.pdf", 734003}, std::pair{u"Жадвал.xlsx", 18432}}) {
      w.AddAttachmentHeader(n, size);
      const std::string zeros(static_cast<size_t>(size), '\0');
      w.WriteBuffer(zeros.data(), zeros.size());
    }
    if (!w.Finish()) return false;
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(s.Data().data(), static_cast<qint64>(s.Data().size()));
  }
  OwnerWindow owner;
  owner.setGeometry(40, 40, 1000, 700);
  owner.show();
  Settle();
  QWidget main_actions;
  const TViewCommands commands = MainViewCommands(main_actions, /*text=*/true);
  TfrmViewMail form(commands, &owner);
  if (!LoadViewerMail(form, file)) return false;
  form.Mail.Flags = flags;
  form.Mail.SendMode = (flags & qovra::mfAdminOnly) ? qovra::kSendModeSecure : qovra::kSendModeFast;
  form.Check.Status = status;
  form.ShowSignatureStatus();
  form.show();
  Settle(300);
  bool ok = SaveBoth(&form, &owner, dir, name);
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0 && name == QStringLiteral("viewer")) {
    std::printf("%s: waiting %d ms\n", qPrintable(name), wait);
    std::fflush(stdout);
    const ModalShots modals(dir, name);
    Settle(wait);
    if (form.isVisible()) ok = SaveBoth(&form, &owner, dir, name + QStringLiteral("-after")) && ok;
  }
  return ok;
}

// The voice viewer over an owner with a received voice mail (a tone
// recorded by the fake audio backend and compressed by qovrasnd), before
// and while playing through the fake backend (voice-viewer-playing). With
// QOVRA_SHOT_WAIT=<ms> it then stays open that long, stopped, for clicks
// from outside and saves voice-viewer-driven.png.
bool ShootVoiceViewer(const QString& dir) {
  qovra::ui::testing::ScopedFakeAudio audio;
  QTemporaryDir folder;
  if (!folder.isValid()) return false;
  const std::string wave = folder.filePath(QStringLiteral("tone.wav")).toStdString();
  const std::string mp3 = folder.filePath(QStringLiteral("tone.mp3")).toStdString();
  const std::string file = folder.filePath(QStringLiteral("mail.emz")).toStdString();
  audio->record_ms = 2500;
  if (!audio->Record(QString::fromStdString(wave), {}, 1u << 30, {})) return false;
  if (qovra::compose::CompressVoice(wave, mp3, nullptr) != qovra::compose::TSoundToolResult::Done)
    return false;
  {
    qovra::TMemoryStream s;
    qovra::TMailWriter w(s, "", [] { return 46000.5; });
    w.AddMailHeaders("Алиса <alice@127.0.0.1>", u"Овозли хабар: чорак ҳисоботи", "bob@localhost");
    w.AddField("body", "");
    if (!w.AddFile(qovra::Utf8ToUtf16(mp3), nullptr, u"voice.mp3", nullptr) || !w.Finish())
      return false;
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(s.Data().data(), static_cast<qint64>(s.Data().size()));
  }
  OwnerWindow owner;
  owner.setGeometry(40, 40, 1000, 700);
  owner.show();
  Settle();
  QWidget main_actions;
  const TViewCommands commands = MainViewCommands(main_actions, /*text=*/false);
  TfrmViewVoiceMail form(commands, &owner);
  form.SetSaveVoiceIcon(QIcon(
      QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_mail_voice_save32")))));
  if (!LoadViewerMail(form, file)) return false;
  form.Mail.SendMode = qovra::kSendModeSecure;
  form.Check.Status = qovra::kSignValid;
  form.ShowSignatureStatus();
  form.show();
  Settle(300);
  bool ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-viewer"));
  form.btnPlay->click();
  Settle(300);
  if (!audio->playing) return false;
  audio->playing->position_ms = 600;
  form.timerPlayerTimer();
  Settle(100);
  ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-viewer-playing")) && ok;
  form.btnStop->click();
  Settle(100);
  const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
  if (wait > 0) {
    std::printf("voice-viewer: waiting %d ms\n", wait);
    std::fflush(stdout);
    Settle(wait);
    if (form.isVisible())
      ok = SaveBoth(&form, &owner, dir, QStringLiteral("voice-viewer-driven")) && ok;
    std::printf("voice-viewer: %lld plays, visible %d\n",
                static_cast<long long>(audio->voice_played.size()), form.isVisible() ? 1 : 0);
  }
  form.hide();
  return ok;
}

// The signature details dialog over an owner.
bool ShootSignDetails(const QString& dir) {
  OwnerWindow owner;
  owner.setGeometry(40, 40, 1000, 700);
  owner.show();
  Settle();
  TfrmSignDetails dialog(&owner);
  dialog.lblSignedBy->setText(dialog.lblSignedBy->text() + QStringLiteral("Алиса Каримова"));
  dialog.lblSignedDate->setText(dialog.lblSignedDate->text() +
                                QStringLiteral("2026.12.10 09:15:42"));
  dialog.lblSignatureAuthencity->setText(
      QString::fromStdString(qovra::GetMsg("msgSignerCertExpired")));
  dialog.show();
  Settle(300);
  return SaveBoth(&dialog, &owner, dir, QStringLiteral("signdetails"));
}

// The delivery report of a mail alice sent to herself, bob and carol, over
// the main window, with the recipient rows as sending and the server's
// reports leave them: alice's own copy fetched and unread, bob's read,
// carol's not fetched yet. With QOVRA_SHOT_WAIT=<ms> the dialog stays open
// that long (for clicks from outside, such as Print; the dialogs they open
// are saved as they show).
bool ShootMailReport(const QString& dir) {
  QTemporaryDir user;
  if (!user.isValid()) return false;
  const QString bin = QCoreApplication::applicationDirPath();
  const QString db = user.filePath(QStringLiteral("ecm.edb"));
  if (!QFile::copy(bin + QStringLiteral("/ecm.edb"), db)) {
    std::fprintf(stderr, "screenshots: no template %s/ecm.edb\n", qPrintable(bin));
    return false;
  }
  qovra::AppTitle = "Qovra";
  qovra::Session.State = 1;
  qovra::Session.OwnContact.Email = "alice@127.0.0.1";
  qovra::Session.OwnContact.FirstName = u"Alice";
  qovra::Session.OwnContact.LastName = u"Demo";
  if (!qovra::MailDb.Open(db.toStdString())) return false;
  // The compose window's record of the mail, then the send's result.
  qovra::TMailMessage mail;
  mail.Uuid = "0000000000000000000000000000D100";
  mail.FromAddress = "alice@127.0.0.1";
  (void)qovra::SplitAddressList(mail.Recipients, "alice@127.0.0.1;bob@127.0.0.1;carol@127.0.0.1",
                                ';');
  mail.Subject = u"Чорак ҳисоботи";
  mail.FolderId = qovra::kFolderOutbox;
  mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
  mail.Priority = qovra::kPriorityNormal;
  mail.Id =
      qovra::SaveMailToDatabase(qovra::MailDb, mail, "alice@127.0.0.1", nullptr, nullptr, false);
  pugi::xml_document sent;
  (void)sent.load_string(
      "<reply><emails><domain val=\"127.0.0.1\" ok=\"1\">"
      "<login val=\"alice\" ok=\"1\" suid=\"5A1C0E7F2B9D4E61A0C3F8B27D1E9A01\" ymbox=\"1\""
      " sent_time=\"2026-12-10 09:15:42\"/>"
      "<login val=\"bob\" ok=\"1\" suid=\"5A1C0E7F2B9D4E61A0C3F8B27D1E9A02\" ymbox=\"2\""
      " sent_time=\"2026-12-10 09:15:42\"/>"
      "<login val=\"carol\" ok=\"1\" suid=\"5A1C0E7F2B9D4E61A0C3F8B27D1E9A03\" ymbox=\"3\""
      " sent_time=\"2026-12-10 09:15:42\"/>"
      "</domain></emails></reply>");
  std::string results;
  if (mail.Id <= 0 || !qovra::RecordSendResults(qovra::MailDb, mail, qovra::kSendModeSecure, false,
                                                sent, results)) {
    std::fprintf(stderr, "screenshots: cannot record the sent mail\n");
    qovra::MailDb.Close();
    return false;
  }
  // The reports of a later receive: alice fetched her copy, bob read his.
  pugi::xml_document reports;
  (void)reports.load_string(
      "<mails_report>"
      "<mail suid=\"5A1C0E7F2B9D4E61A0C3F8B27D1E9A01\" received_time=\"2026-12-10 09:16:02\"/>"
      "<mail suid=\"5A1C0E7F2B9D4E61A0C3F8B27D1E9A02\" received_time=\"2026-12-10 09:16:05\""
      " read_time=\"2026-12-10 09:20:11\"/>"
      "</mails_report>");
  if (qovra::ApplyMailReports(qovra::MailDb, reports.document_element(), nullptr) != 2)
    std::fprintf(stderr, "screenshots: the reports were not applied\n");

  bool ok = false;
  {
    TfrmMain window;
    window.setGeometry(40, 40, 1100, 640);
    window.show();
    Settle(300);
    window.SelectFolder(qovra::kFolderSent);
    window.lvMain->setCurrentIndex(window.model->index(0, 2));
    Settle();
    bool shown = false;
    QTimer::singleShot(0, &window, [&] {
      auto* dialog = qobject_cast<TfrmMailReport*>(QApplication::activeModalWidget());
      if (!dialog) return;
      shown = true;
      Settle(300);
      ok = SaveBoth(dialog, &window, dir, QStringLiteral("mailreport"));
      const int wait = qEnvironmentVariableIntValue("QOVRA_SHOT_WAIT");
      const QPointer<TfrmMailReport> open(dialog);
      if (wait > 0) {
        std::printf("mailreport: waiting %d ms\n", wait);
        std::fflush(stdout);
        const ModalShots modals(dir, QStringLiteral("mailreport"));
        Settle(wait);
      }
      if (open && open->isVisible()) open->done(2);
    });
    window.alMain->acMailReport->trigger();
    if (!shown) std::fprintf(stderr, "screenshots: no report dialog\n");
  }
  qovra::MailDb.Close();
  return ok;
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  const int out_at = static_cast<int>(args.indexOf(QStringLiteral("--out")));
  if (out_at < 0 || out_at + 1 >= args.size()) {
    std::fprintf(stderr, "usage: screenshots --out <folder> [window ...]\n");
    return 2;
  }
  const QString dir = args[out_at + 1];
  args.remove(out_at, 2);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "screenshots: cannot create %s\n", qPrintable(dir));
    return 1;
  }
  // Forms take their texts from the language file, as in the program, and
  // the messages come from it too.
  qovra::ProgramDir = QCoreApplication::applicationDirPath().toStdString() + "/";
  qovra::Options.langid = ShotLangId();
  qovra::ApplyLanguageMessages();
  qovra::ui::SetApplyLanguageFn([](QWidget* form) { qovra::ApplyLanguage(form); });
  // No sound while rendering.
  qovra::ui::testing::ScopedFakeAudio audio;
  audio->output_devices = 0;

  // The shots show texts of the language file, as the program would.
  const auto msg = [](const char* key) { return QString::fromStdString(qovra::GetMsg(key)); };
  const QString long_text =
      msg("msgConnectionError") + QLatin1Char('\r') + msg("msgMailContentTooBigSwitchToFastMode");
  std::map<QString, std::function<bool()>> shots = {
      {QStringLiteral("msg-error"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-error"), 48, long_text, QStringLiteral("OK"),
                             QString(), QString());
       }},
      {QStringLiteral("msg-question"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-question"), 40, msg("msgSaveToDraftsPrompt"),
                             msg("btnYes"), msg("btnNo"), msg("btnCancel"));
       }},
      {QStringLiteral("msg-info"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-info"), 64, msg("hintSecureSended"),
                             QStringLiteral("OK"), QString(), QString());
       }},
      {QStringLiteral("msg-plain"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-plain"), 0, msg("msgOfflineMode"),
                             QStringLiteral("OK"), QString(), QString());
       }},
      {QStringLiteral("progress"), [&] { return ShootProgress(dir); }},
      {QStringLiteral("about"), [&] { return ShootAbout(dir); }},
      {QStringLiteral("menu"), [&] { return ShootMenu(dir); }},
      {QStringLiteral("main"), [&] { return ShootMain(dir); }},
      {QStringLiteral("reply"), [&] { return ShootReply(dir); }},
      {QStringLiteral("main-900x600"),
       [&] { return ShootMain(dir, QStringLiteral("main-900x600"), QSize(900, 600)); }},
      {QStringLiteral("main-640x420"),
       [&] { return ShootMain(dir, QStringLiteral("main-640x420"), QSize(640, 420)); }},
      {QStringLiteral("login"), [&] { return ShootLogin(dir); }},
      {QStringLiteral("password"), [&] { return ShootPassword(dir); }},
      {QStringLiteral("chpass"), [&] { return ShootChangePassword(dir); }},
      {QStringLiteral("profile"), [&] { return ShootProfile(dir); }},
      {QStringLiteral("import"), [&] { return ShootImport(dir); }},
      {QStringLiteral("register"), [&] { return ShootRegister(dir); }},
      {QStringLiteral("forget-1"), [&] { return ShootForget(dir, 1); }},
      {QStringLiteral("forget-2"), [&] { return ShootForget(dir, 2); }},
      {QStringLiteral("forget-3"), [&] { return ShootForget(dir, 3); }},
      {QStringLiteral("forget-4"), [&] { return ShootForget(dir, 4); }},
      {QStringLiteral("picker"), [&] { return ShootPicker(dir); }},
      {QStringLiteral("compose"), [&] { return ShootCompose(dir); }},
      {QStringLiteral("voice-compose"), [&] { return ShootVoiceCompose(dir); }},
      {QStringLiteral("dupdialog"), [&] { return ShootDupDialog(dir); }},
      {QStringLiteral("viewer"), [&] { return ShootViewer(dir, QStringLiteral("viewer"), 1, 0); }},
      {QStringLiteral("voice-viewer"), [&] { return ShootVoiceViewer(dir); }},
      {QStringLiteral("signdetails"), [&] { return ShootSignDetails(dir); }},
      {QStringLiteral("mailreport"), [&] { return ShootMailReport(dir); }},
      {QStringLiteral("addrbook"), [&] { return ShootAddrBook(dir); }},
  };
  // The viewer's footer for each signature verdict (-4 with the unsigned
  // flag, 3 on an administrative mail).
  for (const int status : {1, 0, -1, -2, 3, -3, -4})
    shots[QStringLiteral("viewer-status%1").arg(status)] = [&dir, status] {
      const uint16_t flags = status == -4  ? qovra::mfBadSignature
                             : status == 3 ? qovra::mfAdminOnly
                                           : 0;
      return ShootViewer(dir, QStringLiteral("viewer-status%1").arg(status), status, flags);
    };
  for (int page = 0; page < 5; ++page)
    shots[QStringLiteral("settings-%1").arg(page + 1)] = [&dir, page] {
      return ShootSettings(dir, page);
    };
  if (args.isEmpty()) {
    for (const auto& shot : shots) args << shot.first;
  }
  bool ok = true;
  for (const QString& name : args) {
    const auto found = shots.find(name);
    if (found == shots.end()) {
      std::fprintf(stderr, "screenshots: unknown window %s\n", qPrintable(name));
      ok = false;
      continue;
    }
    ok = found->second() && ok;
  }
  return ok ? 0 : 1;
}
