// The cipher and the hash over large streams, each on a thread of its own.
//
// The calling thread reads the source in chunks into a small ring of
// buffers and writes the results (EncipherCopies: each copy's thread writes
// its own); worker threads run the cipher and the hashes over every chunk
// in order, so the slowest stage sets the pace. The
// bytes written and the hashes are exactly those of CryptStreamWithHash
// (crypto_binding.h) with the same arguments. Progress is reported on the
// calling thread, once per chunk written.
//
// The hashes use tevqa's process-wide tables (built-in S-box set): nothing
// else may hash while a call runs. Buffers that held plain text are wiped
// before a call returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/stream.h"
#include "keys/crypto_binding.h"

namespace qovra {

// Chunk size (a positive multiple of 32) and ring length (at least 2). The
// memory taken is a few rings of Chunks * ChunkSize bytes (EncipherCopies:
// one ring and one chunk per copy).
struct TPipelineShape {
  size_t ChunkSize = size_t{768} << 10;
  size_t Chunks = 6;
};

// One copy made by EncipherCopies: where it goes and under which key.
struct TCopyTarget {
  TStream* Destination = nullptr;
  const uint8_t* Key = nullptr;  // kCipherKeySize bytes
  bool Written = false;          // set by EncipherCopies: the whole copy went out
};

// Enciphers exactly count bytes from source's position once for every
// target (CBC under its key and iv, no header byte, the last block
// zero-padded), each copy on a thread of its own that also writes it, while
// another thread hashes the plain bytes into *plain_hash (null: no hash). Each copy is the
// output of CryptStreamWithHash(csEncrypt) under its key. A target whose key
// is refused or whose write fails drops out (Written stays false, its
// destination may hold part of the copy) and the others go on. True when
// the source gave all count bytes: the hash is set and every target that
// did not drop out is Written. False for count <= 0, a bad shape, neither a
// hash nor a usable target, a short source, or *stop set (read before every
// chunk): no target is Written and *plain_hash is untouched. Progress:
// (count, 0) first, then once per chunk with the bytes done.
[[nodiscard]] bool EncipherCopies(TStream& source, int64_t count, std::span<TCopyTarget> targets,
                                  void* progress_data, TProgressProc progress,
                                  THashValue* plain_hash, TCipherIvView iv,
                                  const TPipelineShape& shape = {},
                                  const std::atomic<bool>* stop = nullptr);

// Enciphers exactly count bytes from source's position into destination
// (CBC under key and iv, no header byte, the last block zero-padded) while
// another thread hashes the plain bytes into *plain_hash. The same as
// CryptStreamWithHash(csEncrypt | csHashInput). False for count <= 0, a bad
// shape, a refused key, a short source or a failed write; destination may
// then hold part of the output and *plain_hash is untouched.
[[nodiscard]] bool EncryptStreamHashingInput(TStream& source, int64_t count, TStream& destination,
                                             void* progress_data, TProgressProc progress,
                                             THashValue* plain_hash, TCipherKeyView key,
                                             TCipherIvView iv, const TPipelineShape& shape = {});

// How the wire bytes of a received file are deciphered: an optional outer
// layer (the session key over the stored bytes, whole blocks), then the
// mail key with the last block's length (0 or 32 = whole block).
struct TDecipherLayers {
  const uint8_t* OuterKey = nullptr;  // kCipherKeySize bytes, or null: no outer layer
  const uint8_t* OuterIv = nullptr;   // kCipherIvSize bytes when OuterKey is set
  const uint8_t* Key = nullptr;       // kCipherKeySize bytes
  const uint8_t* Iv = nullptr;        // kCipherIvSize bytes
  uint8_t LastLength = 0;
};

// Reads exactly count bytes (a positive multiple of 32) from source's
// position: hashes them as read into *wire_hash, deciphers them through
// the layers and writes the plain bytes to destination, hashing those into
// *plain_hash, each step on a thread of its own. The plain bytes and their
// hash equal those of CryptStreamWithHash(csHashOutput |
// CryptLastLengthFlags(LastLength)) over the outer layer's output. False
// for a count that is not a positive multiple of 32, a last length of 32
// or more, a bad shape, a refused key, a short source or a failed write;
// the hashes are then untouched and destination may hold part of the output.
[[nodiscard]] bool DecipherStreamWithHashes(TStream& source, int64_t count, TStream& destination,
                                            void* progress_data, TProgressProc progress,
                                            THashValue* wire_hash, THashValue* plain_hash,
                                            const TDecipherLayers& layers,
                                            const TPipelineShape& shape = {});

}  // namespace qovra
