// The tevqa cipher and hash applied to strings and streams.
//
// String form (EncryptString): one header byte = plain length mod 32, then
// the CBC encryption of the plain bytes zero-padded to whole 32-byte blocks;
// 1 + PaddedBlockLength(plain length) bytes in all.
//
// Every routine hashes with the process-wide tables of tevqa (see tevqa.h):
// nothing else may hash between the start and the end of a call. Cipher
// contexts, keys made here and buffers that held plain text are wiped before
// a routine returns. GUI thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"

namespace qovra {

constexpr size_t kCipherBlockSize = 32;
constexpr size_t kCipherKeySize = 64;
constexpr size_t kCipherIvSize = 32;
constexpr size_t kHashSize = 32;

using THashValue = std::array<uint8_t, kHashSize>;
using TCipherKeyView = std::span<const uint8_t, kCipherKeySize>;
using TCipherIvView = std::span<const uint8_t, kCipherIvSize>;

// REQUIRES: n >= 0.
constexpr int64_t BlockCount(int64_t n) {
  return (n + 31) / 32;
}
constexpr int64_t PaddedBlockLength(int64_t n) {
  return BlockCount(n) * 32;
}

// Flags of CryptStreamWithHash and CryptStream.
constexpr uint32_t csEncrypt = 0x01;     // else decrypt
constexpr uint32_t csHeader = 0x02;      // header byte written / read first
constexpr uint32_t csHashInput = 0x04;   // hash the bytes read
constexpr uint32_t csHashOutput = 0x08;  // hash the bytes written
constexpr uint32_t csLastLength = 0x10;  // decryption without header: last-block
                                         // length in bits 8-15
// Decryption flags that carry the last block's length (0 or 32 = whole).
constexpr uint32_t CryptLastLengthFlags(uint8_t last_length) {
  return csLastLength | (uint32_t{last_length} << 8);
}

// The string form of plain under key and iv. Empty when plain is empty or
// the cipher refuses the key.
[[nodiscard]] std::string EncryptString(std::string_view plain, TCipherIvView iv,
                                        TCipherKeyView key);

// The plain text of a string form. Empty when (length - 1) is not a positive
// multiple of 32, when the header byte is 32 or more, or when the cipher
// refuses the key.
[[nodiscard]] std::string DecryptString(std::string_view form, TCipherIvView iv,
                                        TCipherKeyView key);

// Extends copy, the encipherment of the first size bytes of source under
// key from iv as EncryptString's blocks (zero-padded, no header byte), to
// that of those bytes followed by tail: the copy's last partial block is
// enciphered again with the tail after it. False when a read or a write
// fails.
[[nodiscard]] bool ExtendEncipheredCopy(TStream& copy, TStream& source, int64_t size,
                                        std::string_view tail, TCipherKeyView key,
                                        TCipherIvView iv);

// The same under the name key (the built-in key template with both halves
// XORed with HashString(name)) and the built-in IV. Empty when the name key
// is refused.
[[nodiscard]] std::string EncryptStringWithName(std::string_view text, std::string_view name);
[[nodiscard]] std::string DecryptStringWithName(std::string_view form, std::string_view name);

// The hash of bytes with the built-in S-box set.
[[nodiscard]] THashValue HashString(std::string_view bytes);

// Hashes stream from its position to its end in reads of 8192 bytes, with
// sbox (128 bytes, null = built-in). Returns the bytes hashed; when there was
// nothing to read, returns 0 and leaves *out untouched. Progress: first
// (total = remaining size, 0), then once per read.
int64_t HashStream(TStream& stream, const void* sbox, THashValue* out, void* progress_data,
                   TProgressProc progress);

// Copies exactly count bytes from source's position to destination in
// pieces of at most 16384 bytes, hashing them with sbox when out_hash is
// set. Returns count; 0 does nothing; -1 when source held fewer than count
// bytes or a write failed (destination then holds what was written so far
// and *out_hash is untouched). The source is left just after the count.
[[nodiscard]] int64_t CopyStreamWithHash(TStream& source, int64_t count, TStream& destination,
                                         void* progress_data, TProgressProc progress,
                                         THashValue* out_hash, const void* sbox);

// CBC over exactly count bytes of source (from its position; the rest of the
// source is left unread) into destination, in 8192-byte chunks.
//
// Encryption (csEncrypt): with csHeader first writes count mod 32; the last
// partial block is padded with zeros. Decryption: with csHeader the first
// source byte (counted in count) is the last block's length L, with
// csLastLength L comes from flags bits 8-15, with neither L is 32; L of 0
// means 32 and L of 32 or more is refused. The data to decrypt must be a
// positive multiple of 32 bytes. The header byte is never hashed.
//
// With out_hash set, csHashInput hashes the bytes read and csHashOutput the
// bytes written (built-in S-box set). Returns false for count <= 0, a
// refused key, a source shorter than count, malformed input or a failed
// write; the destination may then hold part of the output and *out_hash is
// untouched. Progress: first (count, 0), then once per chunk with the bytes
// read so far.
[[nodiscard]] bool CryptStreamWithHash(TStream& source, int64_t count, TStream& destination,
                                       void* progress_data, TProgressProc progress,
                                       THashValue* out_hash, TCipherKeyView key, TCipherIvView iv,
                                       uint32_t flags);

// The same without hashing; on encryption prefix is written before anything
// else (ignored on decryption).
[[nodiscard]] bool CryptStream(TStream& source, int64_t count, TStream& destination,
                               void* progress_data, TProgressProc progress, TCipherKeyView key,
                               TCipherIvView iv, std::string_view prefix, uint32_t flags);

}  // namespace qovra
