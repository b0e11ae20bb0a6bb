// The reply half of ServerRequest: from the stored reply body to the
// result code, with every message the reply calls for.
//
// A body shorter than kPlainReplyLimit bytes is plain, unsigned XML: its
// `res` codes other than 1 are reported (6: the session expired, the
// password prompt follows and the result stays 6; 3 passes silently when
// form_class is the login window's), and it never yields 1. A longer body
// is an envelope (envelope_reply.h): a session reply is opened with
// Session's keys and its `res` and `file` elements are walked in order
// (15 and 16 are shown filled with the `registered` value; files after a
// good `res` are stored, envelope_files.h); a handshake reply, once
// verified, sets Session.SessionId, ServerKey and ServerDhKey and gives 1.
//
// A reply that yields no result code (an empty body, a plain reply without
// an error code, a session reply without `res`) is shown as
// "msgConnectionError" and gives 0.
//
// A reply read while it arrives is processed the same way, each step once
// its bytes are in; a file that the taker takes where it lies is handed to
// it before the files after it have arrived. When the reply is cut off
// the result is kReplyCutOff, with nothing shown for it.
#pragma once

#include <pugixml.hpp>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"
#include "net/envelope_files.h"
#include "net/reply_arrival.h"
#include "seam/ui_seam.h"

namespace qovra {

struct TReplyContext {
  bool UseSession = true;  // false: a handshake reply
  TWindowHandle Form = nullptr;
  std::string_view FormClass;
  // Progress window settings for the steps that show a status.
  std::string_view Title;
  bool ShowProgressBar = false;
  void* ProgressBar = nullptr;
  TProgressProc Progress = nullptr;
  // Takes some of the reply's files itself; null: every file is stored.
  IReplyFileTaker* Taker = nullptr;
  // Set while the reply still arrives (reply_arrival.h): each step waits
  // for the bytes it reads, and a file the taker takes where it lies is
  // read while it arrives. Null: the reply is whole.
  IReplyArrival* Arrival = nullptr;
};

// The result when the reply stopped arriving before the bytes a step
// needed (only with an Arrival): nothing was shown for it; the caller
// reports the client's failure.
inline constexpr int kReplyCutOff = -1;

// Processes the whole reply body in reply (read from position 0); the
// parsed reply XML is left in reply_doc. Returns the request's result.
[[nodiscard]] int ProcessServerReply(TStream& reply, const TReplyContext& context,
                                     pugi::xml_document& reply_doc);

}  // namespace qovra
