// settings-dump.
#include <string>

#include "base/records.h"
#include "base/utf.h"
#include "commands.h"
#include "platform/file_utils.h"
#include "settings/settings_xml.h"
#include "tool_io.h"

namespace qovra_tool {

int SettingsDump(const Args& args, std::ostream& out, std::ostream& err) {
  if (!OpenInput(args[0], err)) return 1;
  const std::string bytes = qovra::LoadFileToString(qovra::Utf8ToUtf16(args[0]));
  // The values as the program reads them: absent sections stay zero.
  qovra::TOptions o;
  if (!qovra::ReadOptionsFromBytes(bytes, o)) {
    err << args[0] << ": not a settings file (the XML does not parse)\n";
    return 1;
  }
  const auto w = [](const std::u16string& s) { return qovra::Utf16ToUtf8(s); };
  const auto n = [](unsigned v) { return std::to_string(v); };
  out << "File: " << args[0] << " (" << bytes.size() << " bytes)\n";
  const std::pair<const char*, std::string> rows[] = {
      {"conn.srvaddr", o.Conn.srvaddr},
      {"conn.ServerUrl", o.Conn.ServerUrl},
      {"conn.useprxy", n(o.Conn.useprxy)},
      {"conn.prxaddr", o.Conn.prxaddr.str()},
      {"conn.prxport", n(o.Conn.prxport)},
      {"conn.prxauth", n(o.Conn.prxauth)},
      {"conn.prxuser", o.Conn.prxuser.str()},
      {"conn.prxpass", o.Conn.prxpass.str()},
      {"conn.useiewc", n(o.Conn.useiewc)},
      {"keys.keyssrc", n(o.Keys.keyssrc)},
      {"keys.crtpath", w(o.Keys.crtpath)},
      {"keys.pvkpath", w(o.Keys.pvkpath)},
      {"keys.offpass", std::to_string(o.Keys.offpass.size()) + " bytes " +
                           Hex(o.Keys.offpass.data(), o.Keys.offpass.size())},
      {"iface.langid", std::to_string(o.langid)},
      {"folders.maildir", w(o.Folders.maildir)},
      {"mail.sendmode", std::to_string(o.Mail.sendmode)},
      {"mail.playsnd", n(o.Mail.playsnd)},
      {"mail.sndpath", w(o.Mail.sndpath)},
      {"mail.reffreq", std::to_string(o.Mail.reffreq)},
      {"mail.showgrp", n(o.Mail.showgrp)},
      {"mail.sdownld", n(o.Mail.sdownld)},
      {"other.lastlgn", o.Other.lastlgn},
      {"other.traymin", n(o.Other.traymin)},
      {"other.chkupdt", n(o.Other.chkupdt)},
  };
  for (const auto& [key, value] : rows) out << key << ": " << value << "\n";
  return 0;
}

}  // namespace qovra_tool
