// Recipients of a mail: the login list, command 163 and the check of its
// reply.
#include <tevqa.h>
#include <zarvo.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/address_list.h"
#include "base/base64.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "mail/sending.h"
#include "net/server_request.h"
#include "net/xml_maker.h"
#include "settings/settings.h"

namespace qovra {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A decimal attribute; 0 when absent or not a number.
int64_t IntAttr(const pugi::xml_node& node, const char* name) {
  const std::string_view s = node.attribute(name).value();
  int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return 0;
  return v;
}

void AppendError(std::string& errors, std::string_view who, std::string_view text) {
  if (errors.empty()) errors = GetMsg("msgInvalidEmailsSpecified");
  errors += "\r  ";
  errors += who;
  errors += " - ";
  errors += text;
}

std::u16string NameAttr(const pugi::xml_node& login, const char* name) {
  return Utf8ToUtf16(Base64Decode(login.attribute(name).value()));
}

}  // namespace

std::string BuildLoginListXml(const TEMailList& entries, std::string_view own_address) {
  struct Item {
    std::string domain, user;
  };
  std::vector<Item> items;
  for (const std::string& entry : entries) {
    if (SameTextAscii(entry, own_address)) continue;
    TMailAddressParts parts = SplitMailAddress(entry);
    items.push_back({std::move(parts.Domain), std::move(parts.User)});
  }
  // The sort key is domain + "=" + user without regard to case.
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return Lower(a.domain + "=" + a.user) < Lower(b.domain + "=" + b.user);
  });
  std::string xml;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string domain = XmlEscapeValue(items[i].domain);
    const std::string user = XmlEscapeValue(items[i].user);
    if (i == 0) {
      xml += "<domain val=\"" + domain + "\"><login val=\"" + user + "\" />";
    } else if (SameTextAscii(items[i].domain, items[i - 1].domain)) {
      xml += "<login val=\"" + user + "\"/>";
    } else {
      xml += "</domain><domain val=\"" + domain + "\"><login val=\"" + user + "\"/>";
    }
  }
  if (!xml.empty()) xml += "</domain>";
  return xml;
}

bool GetRecipientCertificates(const TCommandOwner& owner, std::string_view login_list,
                              bool keep_progress_open, pugi::xml_document& doc, int mode) {
  if (login_list.empty()) return false;
  TMemoryStream content;
  {
    TXMLMaker xml(content, "emails");
    xml.OpenRoot();
    xml.WriteRaw(login_list);
    xml.CloseRoot();
    if (!xml.Ok()) return false;
  }
  const THashValue hash = HashString(content.Data());
  uint8_t signature[160];
  if (UZDST_SIGNATURE_generate(hash.data(), Session.OwnPrivateKey.data(),
                               Session.OwnPublicKey.data(), signature) != 1)
    return false;

  TMemoryStream header;
  TXMLMaker xml(header, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 163, true);
  xml.AddInteger("mode", mode, true);
  xml.AddInt64("size", true, content.Size());
  xml.AddString("sign", std::string_view(reinterpret_cast<const char*>(signature), 160), true,
                true);
  xml.CloseRoot();
  if (!xml.Ok()) return false;

  TRequestPart parts[2];
  parts[0].SetName("header");
  parts[0].Data = &header;
  parts[1].SetName("content");
  parts[1].Data = &content;
  return ServerRequest(true, parts, 2, false, owner.ProgressBar, ProgressCallback,
                       GetMsg("msgGettingUsersCertificates"), keep_progress_open, true, owner.Form,
                       owner.FormClass, Options.Conn.ServerUrl, doc) == 1;
}

void RemoveNodeAndAdvance(pugi::xml_node& node) {
  if (!node) return;
  const pugi::xml_node left = node;
  node = node.next_sibling();
  left.parent().remove_child(left);
}

TRecipientCheck CheckRecipients(pugi::xml_document& doc, std::span<const uint8_t, 768> own_dh_key,
                                const std::function<bool(std::string_view)>& contact_exists) {
  TRecipientCheck check;
  pugi::xml_node emails = doc.document_element().child("emails");
  pugi::xml_node domain = emails.first_child();
  while (domain) {
    if (domain.type() != pugi::node_element) {
      domain = domain.next_sibling();
      continue;
    }
    const std::string d = domain.attribute("val").value();
    const int prx = static_cast<int>(IntAttr(domain, "prx") & 0xFF);
    if (prx == 0) {
      AppendError(check.Errors, d, GetMsg("msgInvalidEmail4"));
      RemoveNodeAndAdvance(domain);
      continue;
    }
    if (prx != 1 && prx != 2) {
      domain = domain.next_sibling();
      continue;
    }
    pugi::xml_node login = domain.first_child();
    while (login) {
      if (login.type() != pugi::node_element) {
        login = login.next_sibling();
        continue;
      }
      const std::string l = login.attribute("val").value();
      const std::string address = l + "@" + d;
      const std::string_view cert = login.attribute("cert").value();
      if (cert.size() < 160) {
        AppendError(check.Errors, address, GetMsg("msgInvalidEmail" + std::string(cert)));
        RemoveNodeAndAdvance(login);
        continue;
      }
      const std::string der = Base64Decode(cert);
      uint8_t record[768] = {};
      if (der.empty() || initBPb(der.data(), static_cast<int32_t>(der.size()), record) == 0) {
        AppendError(check.Errors, address, GetMsg("msgInvalidEmail4"));
        RemoveNodeAndAdvance(login);
        continue;
      }
      if (std::memcmp(record, own_dh_key.data(), 160) != 0 ||
          std::memcmp(record + 448, own_dh_key.data() + 448, 32) != 0) {
        AppendError(check.Errors, address, GetMsg("msgInvalidEmail5"));
        RemoveNodeAndAdvance(login);
        continue;
      }
      if (!contact_exists || !contact_exists(address)) {
        TContact c;
        c.Id = -1;
        c.FirstName = NameAttr(login, "fn");
        c.MiddleName = NameAttr(login, "mn");
        c.LastName = NameAttr(login, "ln");
        c.Company = NameAttr(login, "co");
        c.CompanyId = -1;
        c.JobTitle = NameAttr(login, "jt");
        c.JobTitleId = -1;
        c.Email = address;
        c.IsContact = true;
        check.Unknown.push_back(std::move(c));
      }
      while (login.first_attribute()) login.remove_attribute(login.first_attribute());
      login.append_attribute("val") = l.c_str();
      login.append_attribute("pbk") =
          Base64Encode(std::string_view(reinterpret_cast<const char*>(record), 768)).c_str();
      check.AnyAccepted = true;
      login = login.next_sibling();
    }
    domain = domain.next_sibling();
  }
  return check;
}

size_t CountRecipients(const pugi::xml_document& doc) {
  size_t n = 0;
  for (pugi::xml_node d : doc.document_element().child("emails").children())
    for (pugi::xml_node l : d.children("login")) {
      (void)l;
      ++n;
    }
  return n;
}

int OfferFastMode(TWindowHandle owner, int mode, int64_t mail_size, size_t recipients) {
  if (mode != kSendModeSecure || recipients <= 1 || mail_size <= 0) return mode;
  // 64-bit product; a count that would overflow it is far above the limit.
  const int64_t count = static_cast<int64_t>(recipients);
  const bool big =
      mail_size > kFastModeOfferBytes / count || mail_size * count > kFastModeOfferBytes;
  if (big && AskYesNo(owner, "msgMailContentTooBigSwitchToFastMode")) return kSendModeFast;
  return mode;
}

}  // namespace qovra
