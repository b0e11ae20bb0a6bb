#include "net/server_request_reply.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/text_utils.h"
#include "net/envelope.h"
#include "net/envelope_files.h"
#include "net/envelope_reply.h"
#include "net/server_request.h"
#include "net/session_setup.h"

namespace qovra {
namespace {

constexpr int kCodeSessionExpired = 6;
constexpr int kCodeLoginRefused = 3;

template <typename T>
bool ParseWhole(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// The `val` of a res element; missing or not a number reads as 0.
int ResultCode(const pugi::xml_node& res) {
  int code = 0;
  const std::string_view val = res.attribute("val").value();
  if (!ParseWhole(val, code)) {
    std::fprintf(stderr, "qovra: server reply: result code \"%.*s\" is not a number\n",
                 static_cast<int>(val.size()), val.data());
    return 0;
  }
  return code;
}

// Code 0 (a code that was not a number) is no server code and has no text
// of its own: it reads as invalid data.
std::string ServerErrorKey(int code) {
  if (code == 0) return "msgInvalidData";
  return "msgServerError" + std::to_string(code);
}

bool NameIs(const pugi::xml_node& node, std::string_view name) {
  return SameTextAscii(node.name(), name);
}

// Parses xml into doc. A parse error is shown as an error box.
bool ParseReply(std::string_view xml, const TReplyContext& ctx, pugi::xml_document& doc) {
  doc.reset();
  const pugi::xml_parse_result parsed =
      doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    std::fprintf(stderr, "qovra: server reply: %s at offset %lld\n", parsed.description(),
                 static_cast<long long>(parsed.offset));
    ShowMessageText(ctx.Form, GetMsg("msgXmlParsingError"), kMsgIconError);
    return false;
  }
  return true;
}

int NoResult(const TReplyContext& ctx) {
  ShowWarning(ctx.Form, "msgConnectionError");
  return 0;
}

int WalkPlainReply(const pugi::xml_node& root, const TReplyContext& ctx) {
  int result = 0;
  bool code_seen = false;
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element || !NameIs(child, "res")) continue;
    const int code = ResultCode(child);
    if (code == 1) continue;
    result = code;
    code_seen = true;
    if (code == kCodeSessionExpired) {
      ShowWarning(ctx.Form, "msgSessionIsExpired");
      HandshakeDone = false;
      HideProgress(ctx.Form, false);
      if (!ShowLoginDialog(false)) return result;
    } else if (code == kCodeLoginRefused && SameTextAscii(ctx.FormClass, kLoginFormClass)) {
      continue;
    } else {
      ShowWarning(ctx.Form, ServerErrorKey(code));
      return result;
    }
  }
  return code_seen ? result : NoResult(ctx);
}

int ProcessPlainReply(TStream& reply, const TReplyContext& ctx, pugi::xml_document& doc) {
  std::string body(static_cast<size_t>(reply.Size()), '\0');
  if (!reply.SetPosition(0) || !reply.ReadBuffer(body.data(), body.size())) return NoResult(ctx);
  if (!ParseReply(body, ctx, doc)) return 0;
  const pugi::xml_node root = doc.document_element();
  if (!root) return NoResult(ctx);
  return WalkPlainReply(root, ctx);
}

void ShowServerError(const pugi::xml_node& root, int code, const TReplyContext& ctx) {
  if (code != 15 && code != 16) {
    ShowWarning(ctx.Form, ServerErrorKey(code));
    return;
  }
  std::string registered = "0";
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() == pugi::node_element && NameIs(child, "registered")) {
      registered = child.attribute("val").as_string("0");
      break;
    }
  }
  ShowMessageText(ctx.Form, FormatMsg(GetMsg(ServerErrorKey(code)), {registered}), kMsgIconWarning);
}

// Reads a file element; false when its size is not a decimal count.
bool ReadFileElement(const pugi::xml_node& node, TReplyFile& file) {
  const pugi::xml_attribute size = node.attribute("size");
  file.Size = 0;
  if (size && !ParseWhole(std::string_view(size.value()), file.Size)) return false;
  if (file.Size < 0) return false;
  int skip = 0;
  file.Skip = ParseWhole(std::string_view(node.attribute("skip").value()), skip) && skip == 1;
  file.Name = node.attribute("name").as_string("xxxx");
  file.Type = 0;
  (void)ParseWhole(std::string_view(node.attribute("type").value()), file.Type);
  return true;
}

// Waits until the reply holds its bytes up to end (no further than its
// length); false when it was cut off before. A whole reply holds them.
bool Arrived(const TReplyContext& ctx, TStream& reply, int64_t end) {
  return !ctx.Arrival || ctx.Arrival->Await(std::min(end, reply.Size()));
}

// The result of a file that could not be stored or taken: kReplyCutOff
// when the reply stopped arriving, else its message shown and 0.
int FileFailed(const TReplyContext& ctx, const TReplyFileResult& r) {
  if (ctx.Arrival && ctx.Arrival->Failed()) return kReplyCutOff;
  if (!r.MsgKey.empty()) ShowWarning(ctx.Form, r.MsgKey);
  return 0;
}

int WalkSessionReply(const pugi::xml_node& root, TStream& reply, const TReplyContext& ctx) {
  const TEnvelopeKeys keys{Session.SessionKey, Session.SessionId, Session.ServerKey};
  bool good = false;
  // Files the taker takes after the others, with their place in the reply.
  std::vector<std::pair<TReplyFile, int64_t>> taken;
  std::vector<TReplyFile> stored;
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) continue;
    if (NameIs(child, "res")) {
      const int code = ResultCode(child);
      if (code == 1) {
        good = true;
        continue;
      }
      ShowServerError(root, code, ctx);
      return code;
    }
    if (!good || !NameIs(child, "file")) continue;
    TReplyFile file;
    if (!ReadFileElement(child, file)) {
      ShowWarning(ctx.Form, "msgInvalidData");
      return 0;
    }
    if (file.Size == 0) continue;
    if (ctx.Taker && ctx.Taker->Takes(file) && ctx.Arrival &&
        ctx.Taker->TakesInPlace(file, stored)) {
      // Read as it arrives; the bar follows the transfer.
      ShowProgress(ctx.Form, ctx.ShowProgressBar, std::string(ctx.Title), GetMsg("msgDecrypting"));
      const TReplyFileResult r = ctx.Taker->Take(reply, file, keys, root, nullptr, nullptr);
      if (!r.Ok) return FileFailed(ctx, r);
      continue;
    }
    if (ctx.Taker && ctx.Taker->Takes(file)) {
      const int64_t at = reply.Position();
      const int64_t span = ReplyFileSpan(file);
      if (at < 0 || span > reply.Size() - at || !reply.SetPosition(at + span)) {
        ShowWarning(ctx.Form, "msgInvalidData");
        return 0;
      }
      taken.emplace_back(std::move(file), at);
      continue;
    }
    ShowProgress(ctx.Form, ctx.ShowProgressBar, std::string(ctx.Title), GetMsg("msgDecrypting"));
    const TReplyFileResult r = StoreReplyFile(reply, file, keys, ctx.ProgressBar, ctx.Progress);
    if (!r.Ok) return FileFailed(ctx, r);
    stored.push_back(std::move(file));
  }
  for (const auto& [file, at] : taken) {
    ShowProgress(ctx.Form, ctx.ShowProgressBar, std::string(ctx.Title), GetMsg("msgDecrypting"));
    const TReplyFileResult r =
        reply.SetPosition(at)
            ? ctx.Taker->Take(reply, file, keys, root, ctx.ProgressBar, ctx.Progress)
            : TReplyFileResult{false, "msgInvalidData"};
    if (!r.Ok) return FileFailed(ctx, r);
  }
  return good ? 1 : NoResult(ctx);
}

// Waits until the envelope's header, payload and signature are in; false
// when the reply was cut off before.
bool EnvelopeArrived(const TReplyContext& ctx, TStream& reply) {
  if (!ctx.Arrival) return true;
  std::array<uint8_t, kEnvelopeHeaderSize> header{};
  if (!Arrived(ctx, reply, kEnvelopeHeaderSize)) return false;
  if (!reply.SetPosition(0) || !reply.ReadBuffer(header.data(), header.size())) return false;
  const int64_t end = static_cast<int64_t>(kEnvelopeHeaderSize) + EnvelopeLength(header) +
                      static_cast<int64_t>(kEnvelopeSignatureSize);
  return Arrived(ctx, reply, end);
}

int ProcessSessionReply(TStream& reply, const TReplyContext& ctx, pugi::xml_document& doc) {
  if (!EnvelopeArrived(ctx, reply)) return kReplyCutOff;
  std::string xml;
  const TEnvelopeKeys keys{Session.SessionKey, Session.SessionId, Session.ServerKey};
  if (std::string_view err = ReadSessionEnvelope(reply, keys, xml); !err.empty()) {
    ShowWarning(ctx.Form, err);
    return 0;
  }
  if (!ParseReply(xml, ctx, doc)) return 0;
  const pugi::xml_node root = doc.document_element();
  if (!root) return NoResult(ctx);
  return WalkSessionReply(root, reply, ctx);
}

int ProcessHandshakeReply(TStream& reply, const TReplyContext& ctx) {
  THandshakeReply parsed;
  if (std::string_view err = ReadHandshakeEnvelope(reply, parsed); !err.empty()) {
    ShowWarning(ctx.Form, err);
    return 0;
  }
  Session.SessionId = parsed.SessionId;
  Session.ServerKey = parsed.ServerKey;
  Session.ServerDhKey = parsed.ServerKey;
  return 1;
}

}  // namespace

int ProcessServerReply(TStream& reply, const TReplyContext& context,
                       pugi::xml_document& reply_doc) {
  const int64_t size = reply.Size();
  if (size <= 0) return NoResult(context);
  // A small reply is read whole first.
  if (size < kPlainReplyLimit || !context.UseSession)
    if (!Arrived(context, reply, size)) return kReplyCutOff;
  if (size < kPlainReplyLimit) return ProcessPlainReply(reply, context, reply_doc);
  if (!context.UseSession) return ProcessHandshakeReply(reply, context);
  return ProcessSessionReply(reply, context, reply_doc);
}

}  // namespace qovra
