#include "qovra/workspace/main_actions.h"

#include <QRegularExpression>
#include <QWidget>

namespace qovra::ui {
namespace {

bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool MailCanBeReplied(std::string_view from_address, uint16_t flags, std::string_view own_address) {
  return !SameTextIgnoringAsciiCase(from_address, own_address) && (flags & 0x200) == 0;
}

void LoadToolbarImages(TImageList& main32, TImageList& disabled32) {
  QStringList names = {QStringLiteral("ico_mail_new32"), QStringLiteral("ico_mail_newvoice32"),
                       QStringLiteral("ico_mail_receive32"), QStringLiteral("ico_mail_send32")};
  names << ReplyFamilyIcons32();
  names << QStringLiteral("ico_mail_find32") << QStringLiteral("ico_mail_save32")
        << QStringLiteral("ico_mail_delete32") << QStringLiteral("ico_mail_sign32")
        << QStringLiteral("ico_mail_attach_save32") << QStringLiteral("ico_mail_voice_save32")
        << QStringLiteral("ico_mail_drafts32") << QStringLiteral("ico_offline32")
        << QStringLiteral("ico_mail_print32") << QStringLiteral("ico_vcard_check32");
  main32.Clear();
  disabled32.Clear();
  for (const QString& name : names) {
    // A missing picture keeps the places of those after it.
    if (!AddPngResourceToImageList(main32, name, kPngPlain)) main32.Add(QImage());
    if (!AddPngResourceToImageList(disabled32, name, kPngGreyFaded)) disabled32.Add(QImage());
  }
}

TMainActions::TMainActions(QWidget* parent, const TImageList& main32, const TImageList& disabled32)
    : QObject(parent), main32_(main32), disabled32_(disabled32) {
  const QKeySequence none;
  acMailNew =
      Make(parent, "acMailNew", "&New mail", QKeySequence(Qt::CTRL | Qt::Key_N), kImgMailNew);
  acMailNewVoice = Make(parent, "acMailNewVoice", "New &voice mail",
                        QKeySequence(Qt::CTRL | Qt::Key_M), kImgMailNewVoice);
  acMailReceive =
      Make(parent, "acMailReceive", "&Receive", QKeySequence(Qt::Key_F5), kImgMailReceive);
  acMailOpen = Make(parent, "acMailOpen", "&Open", none, -1);
  acMailSend =
      Make(parent, "acMailSend", "&Send", QKeySequence(Qt::CTRL | Qt::Key_Return), kImgMailSend);
  acMailForward = Make(parent, "acMailForward", "&Forward", QKeySequence(Qt::CTRL | Qt::Key_E),
                       kImgMailForward);
  acMailSaveAs = Make(parent, "acMailSaveAs", "Save &as...",
                      QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), kImgMailSave);
  acMailReply =
      Make(parent, "acMailReply", "&Reply", QKeySequence(Qt::CTRL | Qt::Key_R), kImgMailReply);
  acMailReplyVoice = Make(parent, "acMailReplyVoice", "&Voice reply",
                          QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R), kImgMailReplyVoice);
  acMailDelete =
      Make(parent, "acMailDelete", "&Delete", QKeySequence(Qt::Key_Delete), kImgMailDelete);
  acMailSaveToDrafts = Make(parent, "acMailSaveToDrafts", "Save to dra&fts",
                            QKeySequence(Qt::CTRL | Qt::Key_S), kImgMailDrafts);
  acMailSignDetails = Make(parent, "acMailSignDetails", "Signature &details",
                           QKeySequence(Qt::CTRL | Qt::Key_D), kImgMailSign);
  acMailAttachmentsSave =
      Make(parent, "acMailAttachmentsSave", "Save a&ttachments", none, kImgMailAttachSave);
  acMailReport =
      Make(parent, "acMailReport", "Delivery re&port", QKeySequence(Qt::ALT | Qt::Key_Return), -1);
  acMailPrint =
      Make(parent, "acMailPrint", "&Print...", QKeySequence(Qt::CTRL | Qt::Key_P), kImgMailPrint);
  acMailImport = Make(parent, "acMailImport", "&Import mails...",
                      QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I), -1);
  acWorkOffline = Make(parent, "acWorkOffline", "Work o&ffline", none, kImgOffline);
  acWorkOffline->setCheckable(true);
  acToolsContactsBook =
      Make(parent, "acToolsContactsBook", "&Contacts book", none, kImgContactsBook);
  acToolsChangePassword = Make(parent, "acToolsChangePassword", "Change &password...", none, -1);
  acToolsOptions = Make(parent, "acToolsOptions", "&Options...", none, -1);
  acToolsFind =
      Make(parent, "acToolsFind", "&Find", QKeySequence(Qt::CTRL | Qt::Key_F), kImgMailFind);
  acToolsFind->setCheckable(true);
  acToolUserProfile = Make(parent, "acToolUserProfile", "User p&rofile...", none, -1);
  acHelpAbout = Make(parent, "acHelpAbout", "&About...", none, -1);
  acHelpCheckUpdate = Make(parent, "acHelpCheckUpdate", "Check for &updates", none, -1);
  acExit = Make(parent, "acExit", "E&xit", none, -1);
}

QAction* TMainActions::Make(QWidget* parent, const char* name, const char* caption,
                            const QKeySequence& key, int image) {
  auto* action = new QAction(QString::fromUtf8(caption), this);
  action->setObjectName(QString::fromLatin1(name));
  if (!key.isEmpty()) action->setShortcut(key);
  if (image >= 0) {
    QIcon icon;
    icon.addPixmap(main32_.Pixmap(image), QIcon::Normal);
    icon.addPixmap(disabled32_.Pixmap(image), QIcon::Disabled);
    action->setIcon(icon);
  }
  parent->addAction(action);
  all_.push_back(action);
  return action;
}

void TMainActions::Apply(const TActionContext& c) {
  const bool one = c.selected == 1;
  for (QAction* a :
       {acMailNew, acMailNewVoice, acMailSend, acMailReceive, acToolUserProfile, acHelpCheckUpdate})
    a->setEnabled(c.online);
  for (QAction* a : {acMailOpen, acMailSaveAs, acMailReport, acMailPrint}) a->setEnabled(one);
  acMailForward->setEnabled(one && c.online);
  const bool reply = one && c.online && c.single_replyable;
  acMailReply->setEnabled(reply);
  acMailReplyVoice->setEnabled(reply);
  acMailDelete->setEnabled(c.selected >= 1);
}

QAction* TMainActions::Find(std::string_view name) const {
  const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (QAction* a : all_)
    if (a->objectName() == wanted) return a;
  return nullptr;
}

QString PlainActionCaption(const QAction* action) {
  QString text = action->text();
  text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
  text.replace(QStringLiteral("&&"), QStringLiteral("&"));
  while (text.endsWith(QLatin1Char('.')) || text.endsWith(QChar(0x2026))) text.chop(1);
  return text.trimmed();
}

}  // namespace qovra::ui
