// A test client as at start, and its settings pointed at a test exchange
// server and at a test user's key files.
#pragma once

#include <filesystem>
#include <string>

#include "base/records.h"
#include "base/utf.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "settings/settings.h"

namespace qovra_test {

// Default settings with the client that posts our own multipart body
// (useiewc 2), no session, and temp_folder (created) as the temporary
// folder; messages_folder, when given, is created and becomes MessagesDir.
inline void ResetClient(const std::string& temp_folder, const std::string& messages_folder = {}) {
  std::filesystem::create_directories(temp_folder);
  qovra::SetTempFolder(temp_folder + "/");
  if (!messages_folder.empty()) {
    std::filesystem::create_directories(messages_folder);
    qovra::MessagesDir = messages_folder + "/";
  }
  qovra::Options = qovra::TOptions{};
  qovra::Options.Conn.useiewc = 2;
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
}

// srvaddr "host:port" and the server URL built from it.
inline void UseServerAddress(const std::string& host, int port) {
  qovra::Options.Conn.srvaddr = host + ":" + std::to_string(port);
  qovra::Options.Conn.ServerUrl = "http://" + qovra::Options.Conn.srvaddr + "/qovra4/";
}

// The loopback exchange server of a test (anything with Port()).
template <typename Server>
void UseServer(const Server& server) {
  UseServerAddress("127.0.0.1", server.Port());
}

// Key files (keyssrc 0): the certificate and the private-key file.
inline void UseKeyFiles(const std::string& cert_path, const std::string& key_path) {
  qovra::Options.Keys.keyssrc = 0;
  qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(cert_path);
  qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(key_path);
}

// The key files an ExchangePki made for address.
template <typename Pki>
void UseKeyFilesOf(const Pki& pki, const std::string& address) {
  UseKeyFiles(pki.CertPath(address), pki.File(address + ".prk"));
}

}  // namespace qovra_test
