// ServerRequest: the one road by which the client talks to the mail server.
//
// It reloads the user's keys, signs and enciphers the request header,
// enciphers the content part, posts both through the HTTP client the
// settings choose (useiewc), checks and opens the reply envelope, stores the
// files the reply carries and leaves the reply XML in the caller's
// document. Everything it shows goes through the window seam (ui_seam.h).
//
// Result: 1 success (reply verified, `res` 1, every file stored); 0 a
// failure already shown to the user; any other value is the server's result
// code, also already shown (except code 3 in a plain reply to the login
// window, which passes silently). Callers never report a failure again.
//
// On every way out the temporary files (the reply ".dat", the enciphered
// content ".eec", half-written reply files) are removed, the receive timer
// is enabled again when it was, and the progress window is hidden unless
// keep_progress_open was asked and the request succeeded.
//
// Interface thread only; the call blocks until the reply is processed.
#pragma once

#include <pugixml.hpp>
#include <string_view>

#include "base/records.h"
#include "net/http_request_part.h"
#include "seam/ui_seam.h"

namespace qovra {

class IReplyFileTaker;

// True while a session key exists. Set by ServerHandshake; cleared by an
// expired session and by every OK of the settings dialog.
extern bool HandshakeDone;

// The class name of the login window, whose requests pass a plain code 3
// silently.
inline constexpr std::string_view kLoginFormClass = "TfrmLogin";

// use_session: true for every command, false only for the handshake.
// parts, part_count: part 0 holds the request XML, part 1 (optional) the
// content; part_count 1 or 2 (anything else does nothing and returns 0).
//   Not used for the handshake. The caller's streams are read from
//   position 0 and stay the caller's.
// append_dh: handshake only; the key-agreement value is appended.
// progress_bar, progress: handed to the HTTP client and the stream
//   routines (the progress window's bar and ProgressCallback).
// title: the progress window's title. show_progress_bar: whether it shows
//   its bar. keep_progress_open: on success the window stays shown.
// form, form_class: the window the request runs for (owner of messages and
//   of the progress window) and its class name ("TfrmLogin" matters).
// url: the server URL. reply_doc receives the parsed reply XML.
// taker: handles some files of a session reply itself (envelope_files.h).
//
// A handshake reply, once its signature checks out, sets Session.SessionId,
// ServerKey and ServerDhKey; before that nothing in Session changes.
[[nodiscard]] int ServerRequest(bool use_session, TRequestPart* parts, int part_count,
                                bool append_dh, void* progress_bar, TProgressProc progress,
                                std::string_view title, bool keep_progress_open,
                                bool show_progress_bar, TWindowHandle form,
                                std::string_view form_class, std::string_view url,
                                pugi::xml_document& reply_doc, IReplyFileTaker* taker = nullptr);

}  // namespace qovra
