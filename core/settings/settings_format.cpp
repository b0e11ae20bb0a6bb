// TOptions to and from the settings file's elements.
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

#include "base/base64.h"
#include "base/cp1251.h"
#include "base/utf.h"
#include "keys/crypto_binding.h"
#include "settings/settings_xml.h"

namespace qovra {
namespace {

// The whole text as a decimal number (optional sign, blanks around it), or
// nothing.
std::optional<int64_t> ParseDecimal(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The element's number when it is one that T holds, else def.
template <typename T>
T NumberOr(pugi::xml_node section, std::string_view name, T def) {
  const auto value = ParseDecimal(GetNodeText(section, name, ""));
  if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max())
    return def;
  return static_cast<T>(*value);
}

std::string Text(pugi::xml_node section, std::string_view name) {
  return GetNodeText(section, name, "");
}

bool IsWellFormedUtf8(std::string_view s) {
  return Utf16ToUtf8(Utf8ToUtf16(s)) == s;
}

// A path stored as Base64 of its enciphered UTF-8 under the element's name.
std::u16string Decipher(std::string_view stored, std::string_view name) {
  if (stored.empty()) return {};
  const std::string plain = DecryptStringWithName(Base64DecodeStr(stored), name);
  if (plain.find('\0') != std::string::npos || !IsWellFormedUtf8(plain)) return {};
  return Utf8ToUtf16(plain);
}

std::string Encipher(std::u16string_view path, std::string_view name) {
  if (path.empty()) return {};
  return Base64EncodeStr(EncryptStringWithName(Utf16ToUtf8(path), name));
}

void ReadConn(pugi::xml_node s, TConnOpts& c) {
  c.srvaddr = Text(s, "srvaddr");
  c.ServerUrl = "http://" + c.srvaddr + "/qovra4/";
  c.useiewc = NumberOr<uint8_t>(s, "useiewc", 0);
  c.useprxy = NumberOr<uint8_t>(s, "useprxy", 0);
  c.prxaddr.clear();
  c.prxport = 0;
  c.prxauth = 0;
  c.prxuser.clear();
  c.prxpass.clear();
  if (c.useprxy == 0) return;
  c.prxaddr = Text(s, "prxaddr");
  c.prxauth = NumberOr<uint8_t>(s, "prxauth", 0);
  c.prxuser = Text(s, "prxuser");
  c.prxpass = Text(s, "prxpass");
  c.prxport = NumberOr<uint16_t>(s, "prxport", 8080);
  if (c.prxaddr.empty()) c.useprxy = 0;
}

void ReadKeys(pugi::xml_node s, TKeysOpts& k) {
  k.keyssrc = NumberOr<uint8_t>(s, "keyssrc", 0);
  k.crtpath = Decipher(Text(s, "crtpath"), "crtpath");
  k.pvkpath = Decipher(Text(s, "pvkpath"), "pvkpath");
  k.offpass = Base64DecodeStr(Text(s, "offpass"));
}

void ReadMail(pugi::xml_node s, TMailOpts& m) {
  m.sendmode = NumberOr<int32_t>(s, "sendmode", 1);
  if (m.sendmode < 0 || m.sendmode > 1) m.sendmode = 0;
  m.playsnd = NumberOr<uint8_t>(s, "playsnd", 0);
  // The sound path's bytes are UTF-8; the code page gives them back as they were.
  m.sndpath = Utf8ToUtf16(Utf8ToCp1251(Text(s, "sndpath")));
  m.reffreq = NumberOr<int32_t>(s, "reffreq", 1);
  m.showgrp = NumberOr<uint8_t>(s, "showgrp", 0);
  m.sdownld = NumberOr<uint8_t>(s, "sdownld", 0);
}

void ReadOther(pugi::xml_node s, TOtherOpts& o) {
  o.lastlgn = Text(s, "lastlgn");
  o.traymin = NumberOr<uint8_t>(s, "traymin", 0);
  o.chkupdt = NumberOr<uint8_t>(s, "chkupdt", 0);
}

bool SameName(const char* a, std::string_view b) {
  size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == b.size();
}

std::string Element(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(2 * name.size() + value.size() + 5);
  line.append("<").append(name).append(">").append(value);
  line.append("</").append(name).append(">");
  return line;
}

std::string Element(std::string_view name, int64_t value) {
  return Element(name, std::to_string(value));
}

}  // namespace

bool ReadOptionsFromBytes(std::string_view bytes, TOptions& options) {
  pugi::xml_document doc;
  if (!ParseSettingsDocument(bytes, doc)) return false;
  for (pugi::xml_node s = doc.document_element().first_child(); s; s = s.next_sibling()) {
    if (s.type() != pugi::node_element) continue;
    if (SameName(s.name(), "conn")) {
      ReadConn(s, options.Conn);
    } else if (SameName(s.name(), "keys")) {
      ReadKeys(s, options.Keys);
    } else if (SameName(s.name(), "iface")) {
      options.langid = NumberOr<int32_t>(s, "langid", 1);
    } else if (SameName(s.name(), "folders")) {
      options.Folders.maildir = Decipher(Text(s, "maildir"), "maildir");
    } else if (SameName(s.name(), "mail")) {
      ReadMail(s, options.Mail);
    } else if (SameName(s.name(), "other")) {
      ReadOther(s, options.Other);
    }
  }
  return true;
}

std::vector<std::string> OptionsToLines(const TOptions& o) {
  const TConnOpts& c = o.Conn;
  const TKeysOpts& k = o.Keys;
  const TMailOpts& m = o.Mail;
  const TOtherOpts& t = o.Other;
  return {
      std::string(kSettingsDeclaration),
      "<options_xml>",
      "<conn>",
      Element("srvaddr", EncodeSettingsText(c.srvaddr)),
      Element("useprxy", c.useprxy),
      Element("prxaddr", EncodeSettingsText(c.prxaddr)),
      Element("prxport", c.prxport),
      Element("prxauth", c.prxauth),
      Element("prxuser", EncodeSettingsText(c.prxuser)),
      Element("prxpass", EncodeSettingsText(c.prxpass)),
      Element("useiewc", c.useiewc),
      "</conn>",
      "<keys>",
      Element("keyssrc", k.keyssrc),
      Element("crtpath", Encipher(k.crtpath, "crtpath")),
      Element("pvkpath", Encipher(k.pvkpath, "pvkpath")),
      Element("offpass", Base64EncodeStr(k.offpass)),
      "</keys>",
      "<iface>",
      Element("langid", o.langid),
      "</iface>",
      "<folders>",
      Element("maildir", Encipher(o.Folders.maildir, "maildir")),
      "</folders>",
      "<mail>",
      Element("sendmode", m.sendmode),
      Element("playsnd", m.playsnd),
      Element("sndpath", EscapeSettingsBytes(Utf16ToUtf8(m.sndpath))),
      Element("reffreq", m.reffreq),
      Element("showgrp", m.showgrp),
      Element("sdownld", m.sdownld),
      "</mail>",
      "<other>",
      Element("lastlgn", EncodeSettingsText(t.lastlgn)),
      Element("traymin", t.traymin),
      Element("chkupdt", t.chkupdt),
      "</other>",
      "</options_xml>",
  };
}

}  // namespace qovra
