// Layouts of the files and token objects that zarvo reads, for the tools
// that write them (keytool, tests, the exchange server).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zarvo {

constexpr size_t kPrivateRecordSize = 256;
constexpr size_t kPublicRecordSize = 768;

// Protected key file. All numbers big-endian.
//   0  4    magic "QPRK"
//   4  1    version, 1
//   5  3    zero
//   8  4    PBKDF2-HMAC-SHA256 iteration count
//  12  16   salt
//  28  12   AES-256-GCM nonce
//  40  1024 ciphertext of the private record (256) then the key-agreement
//           record (768)
// 1064 16   GCM tag
// The 40 header bytes are the GCM additional data, so any change to them
// fails the tag. The file is exactly kKeyFileSize bytes.
inline constexpr std::string_view kKeyFileMagic = "QPRK";
constexpr uint8_t kKeyFileVersion = 1;
constexpr size_t kKeyFileHeaderSize = 40;
constexpr size_t kKeyFileSaltSize = 16;
constexpr size_t kKeyFileNonceSize = 12;
constexpr size_t kKeyFileTagSize = 16;
constexpr size_t kKeyFilePlainSize = kPrivateRecordSize + kPublicRecordSize;
constexpr size_t kKeyFileSize = kKeyFileHeaderSize + kKeyFilePlainSize + kKeyFileTagSize;
constexpr uint32_t kKeyFileDefaultIterations = 200000;
// Counts outside this range are refused before any work is done.
constexpr uint32_t kKeyFileMinIterations = 10000;
constexpr uint32_t kKeyFileMaxIterations = 2000000;

// Token objects, all CKO_DATA with CKA_APPLICATION kTokenApplication.
// The marker is public (CKA_PRIVATE false) and holds kTokenMarkerValue; the
// three records are private (CKA_PRIVATE true) and hold the record bytes.
inline constexpr std::string_view kTokenApplication = "qovra";
inline constexpr std::string_view kTokenMarkerLabel = "qovra key device";
inline constexpr std::string_view kTokenMarkerValue = "qovra key device 1";
inline constexpr std::string_view kTokenPrivateLabel = "qovra private key";
inline constexpr std::string_view kTokenAgreementLabel = "qovra key agreement";
inline constexpr std::string_view kTokenPublicLabel = "qovra public key";

}  // namespace zarvo
