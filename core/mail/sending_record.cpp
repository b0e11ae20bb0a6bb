// Recording and showing the outcome of a send; the sending steps in order.
#include <utility>

#include "base/messages.h"
#include "base/msg_format.h"
#include "mail/sending.h"
#include "mail/sending_values.h"
#include "store/mail_container_date.h"

namespace qovra {

TSendFlags LoadRecipientSendFlags(SqliteDb& db, int32_t mail_id) {
  TSendFlags flags;
  if (!db.IsOpen()) return flags;
  SqliteStatement q = db.Prepare("SELECT to_address,send_flag FROM ecm_recipients WHERE mail_id=?");
  if (!q.Valid()) return flags;
  q.Bind(1, int64_t{mail_id});
  while (q.Step() == SqliteStatement::StepResult::Row)
    flags[LowerAddress(q.ColumnText(0))] = static_cast<int32_t>(q.ColumnInt(1));
  return flags;
}

namespace {

bool WriteRecipientSent(SqliteDb& db, int32_t mail_id, std::string_view address,
                        const TSentValues& v) {
  SqliteStatement r = db.Prepare(
      "UPDATE ecm_recipients SET suid=?1,ymbox=?2,sent_time=?3,send_flag=1 "
      "WHERE mail_id=?4 AND to_address=?5");
  r.Bind(1, v.Suid).Bind(2, int64_t{std::stoi(v.Ymbox)}).Bind(3, v.SentTime);
  r.Bind(4, int64_t{mail_id}).Bind(5, address);
  return r.Run();
}

}  // namespace

bool RecordRecipientSent(SqliteDb& db, int32_t mail_id, std::string_view address,
                         pugi::xml_node& login) {
  TSentValues v = ReadSentValues(login);
  FillSentDefaults(v);
  for (const auto& [name, value] :
       {std::pair{"suid", &v.Suid}, {"ymbox", &v.Ymbox}, {"sent_time", &v.SentTime}}) {
    pugi::xml_attribute a = login.attribute(name);
    if (!a) a = login.append_attribute(name);
    a = value->c_str();
  }
  if (!db.IsOpen() || mail_id <= 0) return true;
  return WriteRecipientSent(db, mail_id, address, v);
}

bool RecordSendResults(SqliteDb& db, TMailMessage& mail, int mode, bool partial_failure,
                       const pugi::xml_document& result, std::string& results) {
  mail.FolderId = kFolderSent;
  mail.Flags = static_cast<uint16_t>(mail.Flags | mfSent);
  mail.SentTime = LocalNow();
  results.clear();
  const bool open = db.IsOpen();
  SqliteTransaction tx(db);
  if (open) {
    if (!tx.Active()) return false;
    SqliteStatement m = db.Prepare(
        partial_failure ? "UPDATE ecm_mails SET send_mode=?1 WHERE id=?2"
                        : "UPDATE ecm_mails SET send_mode=?1,folder_id=2,flag=?3 WHERE id=?2");
    m.Bind(1, int64_t{mode}).Bind(2, int64_t{mail.Id});
    if (!partial_failure) m.Bind(3, int64_t{mail.Flags});
    if (!m.Run()) return false;
  }
  const pugi::xml_node emails = result.document_element().child("emails");
  for (pugi::xml_node d : emails.children("domain")) {
    const std::string dv = d.attribute("val").value();
    if (ReadOkAttr(d) == 0) {
      results += FormatMsgArgs(GetMsg("msgDomainMailSendError"), dv);
      continue;
    }
    for (pugi::xml_node l : d.children("login")) {
      const std::string lv = l.attribute("val").value();
      const int64_t ok = ReadOkAttr(l);
      if (ok == kRecipientSent) {
        results += FormatMsgArgs(GetMsg("msgLoginMailSended"), lv, dv);
      } else if (ok == kRecipientSkipped) {
        results += FormatMsgArgs(GetMsg("msgLoginMailSendingSkipped"), lv, dv);
      } else {
        results += FormatMsgArgs(GetMsg("msgLoginMailSendError"), lv, dv);
      }
      if (!open || !IsRecordedOutcome(l)) continue;
      // Values the server left out, or sent in a form that is not safe to
      // store, get their defaults.
      TSentValues v = ReadSentValues(l);
      FillSentDefaults(v);
      if (!WriteRecipientSent(db, mail.Id, lv + "@" + dv, v)) return false;
    }
  }
  return !open || tx.Commit();
}

void ShowSendResults(TWindowHandle owner, std::string results) {
  if (results.empty()) {
    ShowInfo(owner, "msgMailSended");
    return;
  }
  if (results.size() >= 2) results[results.size() - 2] = '.';
  ShowMessageText(owner, GetMsg("msgMailSendResult") + results, kMsgIconInformation);
}

TSendOutcome RunSendSteps(const TCommandOwner& owner, const TSendPlace& place, TMailMessage& mail,
                          int mode, const TEMailList& entries, TStream& mail_stream,
                          const std::function<bool(std::string_view)>& contact_exists) {
  TSendOutcome outcome;
  outcome.Mode = mode;
  const std::string list = BuildLoginListXml(entries, mail.FromAddress.view());
  if (list.empty()) {
    ShowWarning(owner.Form, "msgEMailAddressesIsInvalid");
    return outcome;
  }
  pugi::xml_document doc;
  if (!GetRecipientCertificates(owner, list, true, doc, mode)) return outcome;
  TRecipientCheck check = CheckRecipients(doc, Session.OwnDhKey, contact_exists);
  if (!check.Errors.empty()) ShowMessageText(owner.Form, check.Errors, kMsgIconWarning);
  if (!check.AnyAccepted) {
    HideProgress(owner.Form, false);
    ShowMessageText(owner.Form, GetMsg("msgEMailAddressesIsInvalid"), kMsgIconWarning);
    return outcome;
  }
  outcome.Mode = OfferFastMode(owner.Form, mode, mail_stream.Size(), CountRecipients(doc));
  ShowProgress(owner.Form, true, GetMsg("msgSendingMailMessage"), GetMsg("msgPreparing"));
  outcome.Attempted = true;
  outcome.Unknown = std::move(check.Unknown);
  TSendFlags flags;
  if (place.Db) flags = LoadRecipientSendFlags(*place.Db, mail.Id);
  pugi::xml_document result;
  outcome.Sent = SendMailMessage(owner, place, mail, outcome.PartialFailure, outcome.Mode, flags,
                                 doc, mail_stream, result);
  if (!outcome.Sent) return outcome;
  std::string results;
  SqliteDb closed;
  if (!RecordSendResults(place.Db ? *place.Db : closed, mail, outcome.Mode, outcome.PartialFailure,
                         result, results))
    ShowWarning(owner.Form, "msgDatabaseError");
  ShowSendResults(owner.Form, std::move(results));
  return outcome;
}

}  // namespace qovra
