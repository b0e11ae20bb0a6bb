// Files carried by a session reply, after the payload's signature.
//
// Each accepted `file` element of the reply XML is followed on the wire by
// the file's bytes (as stored with skip 1, else enciphered under the session
// key from the session id, 32 * ceil(size / 32) bytes) and a 160-byte
// server signature over the hash of exactly those wire bytes.
//
// A file is written under a temporary name in its target folder and renamed
// to its own name only after its signature checked out; on any failure the
// temporary file is removed and an older file of that name stays as it was.
// GUI thread only.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "base/stream.h"
#include "net/envelope_reply.h"

namespace qovra {

// One `file` element.
struct TReplyFile {
  int64_t Size = 0;   // bytes of the file itself; 0 = the element is skipped
  bool Skip = false;  // true: stored as sent; false: enciphered
  std::string Name;   // UTF-8, as the server sent it
  int Type = 0;       // target folder, see server_request_folders.h
};

// True for a bare file name: not empty, at most 255 bytes, well-formed
// UTF-8, no "/" or "\", no "..", and no control characters.
bool IsSafeReplyFileName(std::string_view name);

// What storing a file came to. Ok false with an empty MsgKey: the failure
// was already shown to the user (a file that could not be created or
// written).
struct TReplyFileResult {
  bool Ok = false;
  std::string_view MsgKey;
};

// Stores file from reply's position into its folder. Failures: a refused
// name or an unknown folder "msgInvalidData"; fewer wire bytes than the
// file needs (announced, or read) "msgInvalidData"; a missing or wrong
// signature "msgUnauthenticSignature". On success reply stands after the signature.
// Progress goes to progress with progress_data.
[[nodiscard]] TReplyFileResult StoreReplyFile(TStream& reply, const TReplyFile& file,
                                              const TEnvelopeKeys& keys, void* progress_data,
                                              TProgressProc progress);

// A caller's own handling of some files of one session reply, in place of
// StoreReplyFile. The files it takes are handed to it after every other
// file of the reply was stored, in reply order.
class IReplyFileTaker {
 public:
  virtual ~IReplyFileTaker() = default;
  [[nodiscard]] virtual bool Takes(const TReplyFile& file) = 0;
  // reply stands at the file's wire bytes; root is the reply's document
  // element. Same contract as StoreReplyFile, which it may call.
  [[nodiscard]] virtual TReplyFileResult Take(TStream& reply, const TReplyFile& file,
                                              const TEnvelopeKeys& keys, const pugi::xml_node& root,
                                              void* progress_data, TProgressProc progress) = 0;
  // Whether a file it takes may be handed to it where it lies in a reply
  // that still arrives, before the files after it; stored_before: the
  // files of the reply stored so far. Such a file's bytes are read as they
  // arrive; a read that comes up short means the reply was cut off.
  [[nodiscard]] virtual bool TakesInPlace(const TReplyFile& /*file*/,
                                          const std::vector<TReplyFile>& /*stored_before*/) {
    return false;
  }
};

// Bytes a file occupies in the reply: its wire bytes and the signature.
[[nodiscard]] int64_t ReplyFileSpan(const TReplyFile& file);

}  // namespace qovra
