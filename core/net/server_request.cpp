#include "net/server_request.h"

#include <tevqa.h>
#include <ulmox.h>

#include <array>
#include <exception>
#include <memory>
#include <string>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/secure_wipe.h"
#include "keys/crypto_binding.h"
#include "keys/random_text.h"
#include "net/envelope.h"
#include "net/id_http_client.h"
#include "net/ie_http_client.h"
#include "net/reply_arrival.h"
#include "net/server_request_reply.h"
#include "net/session_setup.h"
#include "platform/temp_files.h"

namespace qovra {

bool HandshakeDone = false;

namespace {

constexpr int64_t kEnvelopeOverhead = 168;

template <size_t N>
std::array<uint8_t, N> RandomBytes() {
  std::array<uint8_t, N> bytes{};
  (void)random_bytes(bytes.data(), static_cast<int32_t>(N));
  return bytes;
}

int64_t StreamSize(TStream* stream) {
  const int64_t size = stream ? stream->Size() : 0;
  return size > 0 ? size : 0;
}

// The whole stream from position 0.
bool ReadWhole(TStream& stream, std::string& out) {
  const int64_t size = stream.Size();
  if (size < 0 || !stream.SetPosition(0)) return false;
  out.assign(static_cast<size_t>(size), '\0');
  return stream.ReadBuffer(out.data(), out.size());
}

// Hides the progress window on the way out unless the caller keeps it open
// after a success.
class ProgressCloser {
 public:
  ProgressCloser(TWindowHandle form, bool keep) : form_(form), keep_(keep) {}
  ~ProgressCloser() { HideProgress(form_, keep_ && succeeded_); }
  ProgressCloser(const ProgressCloser&) = delete;
  ProgressCloser& operator=(const ProgressCloser&) = delete;
  void SetSucceeded(bool ok) { succeeded_ = ok; }

 private:
  TWindowHandle form_;
  bool keep_;
  bool succeeded_ = false;
};

struct RequestArgs {
  bool use_session;
  TRequestPart* parts;
  int part_count;
  bool append_dh;
  void* progress_bar;
  TProgressProc progress;
  std::string title;
  bool show_bar;
  TWindowHandle form;
  std::string_view form_class;
  std::string_view url;
  IReplyFileTaker* taker;
};

int Fail(const RequestArgs& a, std::string_view key) {
  ShowWarning(a.form, key);
  return 0;
}

void ShowStatus(const RequestArgs& a, std::string_view key) {
  ShowProgress(a.form, a.show_bar, a.title, GetMsg(key));
}

// The header part's bytes without the signature; empty after a failure
// that was shown.
std::string BuildHeader(const RequestArgs& a) {
  const std::array<uint8_t, 8> random8 = RandomBytes<8>();
  if (a.use_session) {
    std::string xml;
    if (!ReadWhole(*a.parts[0].Data, xml)) return {};
    const std::string enciphered = EncryptString(xml, Session.SessionId, Session.SessionKey);
    WipeString(xml);  // requests may carry password hashes
    if (enciphered.empty()) return {};
    return BuildSessionRequestHeader(random8, Session.SessionId, enciphered);
  }
  const std::array<uint8_t, 32> mask = RandomBytes<32>();
  std::span<const uint8_t> dh;
  if (a.append_dh) dh = std::span<const uint8_t>(Session.OwnDhKey).subspan(288, 128);
  return BuildHandshakeRequestHeader(random8, Session.CertKeyHash, dh, mask);
}

// Signs header with the user's keys (loaded again for this request).
// False after a failure that was shown.
bool SignHeader(const RequestArgs& a, std::string& header) {
  const THashValue hash = HashString(header);
  if (!LoadUserKeys(a.form)) return false;
  std::array<uint8_t, TEVQA_SIGNATURE_SIZE> signature{};
  if (UZDST_SIGNATURE_generate(hash.data(), Session.OwnPrivateKey.data(),
                               Session.OwnPublicKey.data(), signature.data()) != 1) {
    Fail(a, "msgCannotSignSendingData");
    return false;
  }
  header.append(reinterpret_cast<const char*>(signature.data()), signature.size());
  return true;
}

// The stream that goes out as the content part: the caller's own, or an
// enciphered copy owned by holder. Null after a failure that was shown.
TStream* PrepareContent(const RequestArgs& a, const TRequestPart& part,
                        std::unique_ptr<TStream>& holder) {
  if (part.SendAsIs) return part.Data;
  TStream& source = *part.Data;
  if (dynamic_cast<TMemoryStream*>(&source)) {
    holder = std::make_unique<TMemoryStream>();
  } else if (dynamic_cast<THandleStream*>(&source)) {
    const std::string name = GetTempFolder() + RandomString(16, kRandomUpperNum) + ".eec";
    auto file = std::make_unique<TEFileStream>(name, true, true, fmCreate);
    if (file->Opened()) holder = std::move(file);
  }
  if (!holder || !source.SetPosition(0) ||
      !CryptStreamWithHash(source, source.Size(), *holder, a.progress_bar, a.progress, nullptr,
                           Session.SessionKey, Session.SessionId, csEncrypt)) {
    Fail(a, "msgCannotEncryptRequest");
    return nullptr;
  }
  return holder.get();
}

// Shows the client's failure; always false.
bool ClientFailed(const RequestArgs& a, const std::string& detail) {
  ShowMessageText(a.form, GetMsg("msgConnectionError") + "\r" + detail, kMsgIconWarning);
  return false;
}

// Reads the reply while it arrives when read_early says so and the client
// tells a 200 reply of known length: process runs on the body as it comes
// (through a reader of its own on the spool file) and the transfer is run
// to its end afterwards. Otherwise the whole body is received first.
// Returns process's result, or 0 after a client failure that was shown
// (a reply cut off while it was read counts as one).
template <class Client, class Process>
int ReceiveAndProcess(const RequestArgs& a, Client& client, bool headers_in, TEFileStream& spool,
                      bool read_early, const Process& process) {
  if (headers_in && read_early) {
    TEFileStream reader(spool.FileName(), true, false, fmOpenRead);
    if (reader.Opened()) {
      TArrivingReply arriving(reader, client.Arrival());
      const int result = process(arriving, &client.Arrival());
      if (result == kReplyCutOff) {
        (void)client.Rest();
        return ClientFailed(a, client.LastErrorText());
      }
      // A failure was shown; what is still on its way is not wanted.
      if (result != 1) return result;
      if (!client.Rest()) return ClientFailed(a, client.LastErrorText());
      return 1;
    }
  }
  if (!client.Rest()) return ClientFailed(a, client.LastErrorText());
  return process(spool, nullptr);
}

// The two clients behind one face for ReceiveAndProcess.
struct IdClient {
  TIdHttpClient& c;
  IReplyArrival& Arrival() { return c.Arrival(); }
  bool Rest() { return c.PostRest(); }
  std::string LastErrorText() { return c.GetLastErrorText(); }
};
struct IeClient {
  TIEHttpClient& c;
  IReplyArrival& Arrival() { return c.Arrival(); }
  bool Rest() { return c.ReceiveRest(); }
  std::string LastErrorText() { return c.LastErrorText(); }
};

// Posts the parts, stores the reply body in spool and processes it
// (process(reply, arrival), arrival null once the body is whole); a
// request with a taker reads its reply while it arrives. Returns process's
// result, or 0 after a failure that was shown.
template <class Process>
int Post(const RequestArgs& a, const TRequestPart* parts, int count, TEFileStream& spool,
         const Process& process) {
  ShowStatus(a, "msgSendingRequest");
  const uint8_t client_kind = Options.Conn.useiewc;
  // Only a download's file is worth reading while it arrives.
  const bool read_early = a.taker != nullptr;
  if (client_kind < 2) {
    TIdHttpClient client(a.progress, a.progress_bar, Options.Conn);
    for (int i = 0; i < count; ++i) {
      if (!client.AddPart(parts[i])) return ClientFailed(a, client.GetLastErrorText());
    }
    const bool headers_in = client.PostHead(a.url, spool);
    IdClient face{client};
    return ReceiveAndProcess(a, face, headers_in, spool, read_early, process);
  }
  if (client_kind == 2) {
    TIEHttpClient client(a.progress, a.progress_bar, Options.Conn);
    for (int i = 0; i < count; ++i) {
      if (!client.AddPart(parts[i])) return ClientFailed(a, client.LastErrorText());
    }
    if (!client.OpenRequest(a.url, kHttpVerbPost) || !client.Send()) {
      return ClientFailed(a, client.LastErrorText());
    }
    ShowStatus(a, "msgReadingResponse");
    const bool headers_in = client.ReceiveHead(spool);
    IeClient face{client};
    return ReceiveAndProcess(a, face, headers_in, spool, read_early, process);
  }
  // No client answers to this setting.
  Fail(a, "msgConnectionError");
  return 0;
}

int Exchange(const RequestArgs& a, pugi::xml_document& reply_doc) {
  std::string header = BuildHeader(a);
  if (header.empty()) return Fail(a, "msgCannotEncryptRequest");
  if (!SignHeader(a, header)) return 0;

  TMemoryStream header_stream(std::move(header));
  TRequestPart out_parts[2];
  out_parts[0].SetName("header");
  out_parts[0].Data = &header_stream;
  int out_count = 1;

  ShowStatus(a, "msgEncrypting");
  std::unique_ptr<TStream> content_copy;
  if (a.use_session && a.part_count == 2) {
    TStream* content = PrepareContent(a, a.parts[1], content_copy);
    if (!content) return 0;
    out_parts[1].Name = a.parts[1].Name;
    out_parts[1].SendAsIs = a.parts[1].SendAsIs;
    out_parts[1].Data = content;
    out_count = 2;
  }

  const std::string reply_name = GetTempFolder() + RandomHexString(16) + ".dat";
  TEFileStream reply(reply_name, false, true, fmCreate);
  if (!reply.Opened()) return 0;
  return Post(a, out_parts, out_count, reply, [&](TStream& body, IReplyArrival* arrival) {
    TReplyContext context;
    context.UseSession = a.use_session;
    context.Form = a.form;
    context.FormClass = a.form_class;
    context.Title = a.title;
    context.ShowProgressBar = a.show_bar;
    context.ProgressBar = a.progress_bar;
    context.Progress = a.progress;
    context.Taker = a.taker;
    context.Arrival = arrival;
    return ProcessServerReply(body, context, reply_doc);
  });
}

}  // namespace

int ServerRequest(bool use_session, TRequestPart* parts, int part_count, bool append_dh,
                  void* progress_bar, TProgressProc progress, std::string_view title,
                  bool keep_progress_open, bool show_progress_bar, TWindowHandle form,
                  std::string_view form_class, std::string_view url, pugi::xml_document& reply_doc,
                  IReplyFileTaker* taker) {
  if (use_session) {
    if (!parts || part_count < 1 || part_count > 2 || !parts[0].Data) return 0;
    if (part_count == 2 && !parts[1].Data) return 0;
    if (Session.MaxUploadSize > 0) {
      int64_t total = StreamSize(parts[0].Data) + kEnvelopeOverhead;
      if (part_count == 2) total += StreamSize(parts[1].Data);
      if (total > Session.MaxUploadSize) {
        ShowWarning(form, "msgMailContentBiggerThanServerUploadSizeLimit");
        return 0;
      }
    }
  }
  TReceiveTimerPause timer_pause;
  ProgressCloser progress_closer(form, keep_progress_open);
  const RequestArgs args{
      use_session,       parts, part_count, append_dh, progress_bar, progress, std::string(title),
      show_progress_bar, form,  form_class, url,       taker};
  int result = 0;
  try {
    result = Exchange(args, reply_doc);
  } catch (const std::exception&) {
    ShowWarning(form, "msgConnectionError");
    result = 0;
  }
  progress_closer.SetSucceeded(result == 1);
  return result;
}

}  // namespace qovra
