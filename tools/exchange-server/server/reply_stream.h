// The wire bytes of one file of a session reply, written to a sink with
// their hash taken on the way.
//
// A file longer than one chunk goes through a ring of kStreamSlots chunks
// in three steps that overlap: a thread of its own reads (and enciphers)
// the next chunks, another hashes them, and the caller's thread hands them
// to the sink. So a file goes out at the pace of its slowest step, not of
// their sum, holding at most kStreamSlots chunks. The bytes, their order
// and the hash are those of one thread doing the steps in turn; a shorter
// file is done that way on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "body_range.h"
#include "server_crypto.h"

namespace exchange {

// Receives the bytes of a reply in order; false stops the writing.
using ReplySink = std::function<bool(const char* data, size_t size)>;

inline constexpr size_t kStreamSlots = 4;

// Writes wire bytes: the raw bytes of source (raw <= wire), then zeros up
// to wire, enciphered by cbc when it is given; every byte written is also
// given to hash. False when source cannot be read or the sink refuses; what
// was written stays written. Returns only when its threads have ended.
// REQUIRES: source holds raw bytes; with cbc, wire is a multiple of 32.
[[nodiscard]] bool StreamReplyFile(const BodyRange& source, uint64_t raw, uint64_t wire,
                                   crypto::CbcStream* cbc, crypto::Hasher& hash,
                                   const ReplySink& sink);

}  // namespace exchange
