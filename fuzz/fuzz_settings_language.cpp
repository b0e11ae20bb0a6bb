// Fuzz target: settings files and language files from arbitrary bytes. The
// first byte chooses the parser. A settings file that reads must read back
// to the same values once written: what SaveOptions writes, LoadOptions
// gets back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "base/records.h"
#include "settings/language.h"
#include "settings/settings_xml.h"

namespace {

bool Same(const qovra::TOptions& a, const qovra::TOptions& b) {
  const auto& x = a.Conn;
  const auto& y = b.Conn;
  return x.srvaddr == y.srvaddr && x.ServerUrl == y.ServerUrl && x.useprxy == y.useprxy &&
         x.prxaddr.str() == y.prxaddr.str() && x.prxport == y.prxport && x.prxauth == y.prxauth &&
         x.prxuser.str() == y.prxuser.str() && x.prxpass.str() == y.prxpass.str() &&
         x.useiewc == y.useiewc && a.Keys.keyssrc == b.Keys.keyssrc &&
         a.Keys.crtpath == b.Keys.crtpath && a.Keys.pvkpath == b.Keys.pvkpath &&
         a.Keys.offpass == b.Keys.offpass && a.langid == b.langid &&
         a.Folders.maildir == b.Folders.maildir && a.Mail.sendmode == b.Mail.sendmode &&
         a.Mail.playsnd == b.Mail.playsnd && a.Mail.sndpath == b.Mail.sndpath &&
         a.Mail.reffreq == b.Mail.reffreq && a.Mail.showgrp == b.Mail.showgrp &&
         a.Mail.sdownld == b.Mail.sdownld && a.Other.lastlgn == b.Other.lastlgn &&
         a.Other.traymin == b.Other.traymin && a.Other.chkupdt == b.Other.chkupdt;
}

void SettingsFile(std::string_view bytes) {
  qovra::TOptions first;
  if (!qovra::ReadOptionsFromBytes(bytes, first)) return;
  // A file without a conn section leaves ServerUrl empty; the written file
  // always has one.
  first.Conn.ServerUrl = "http://" + first.Conn.srvaddr + "/qovra4/";
  // With the proxy switched off (also for want of an address) the proxy
  // fields are not read back.
  if (first.Conn.useprxy == 0) {
    first.Conn.prxaddr.clear();
    first.Conn.prxport = 0;
    first.Conn.prxauth = 0;
    first.Conn.prxuser.clear();
    first.Conn.prxpass.clear();
  }
  std::string written;
  for (const std::string& line : qovra::OptionsToLines(first)) written += line + "\r\n";
  qovra::TOptions second;
  if (!qovra::ReadOptionsFromBytes(written, second) || !Same(first, second)) std::abort();
}

void LanguageFile(std::string_view bytes) {
  qovra::TLanguageFile file;
  if (!file.Parse(bytes)) return;
  for (const char* name : {"TfrmMain", "messages", "Messages"}) {
    for (const qovra::TLanguageEntry& e : file.Entries(name)) {
      if (e.name.empty()) std::abort();
    }
  }
  qovra::ApplyLanguageMessages(&file);
  (void)qovra::GetMsg("msgConnectionError");
  qovra::ClearMsgTable();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    LanguageFile(bytes);
  } else {
    SettingsFile(bytes);
  }
  return 0;
}
