// The signature check of one mail, shared by receiving and opening.
//
// A mail is signed over the hash of its plain container. The signature
// container (<uuid>.ems) gives the 160-byte signature, the signer's
// certificate and the signing time (UTC). CheckMailSignature turns these
// and the data hash into one verdict code; receiving keeps a mail only
// when the verdict is kSignValid, the viewer shows the verdict.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/records.h"
#include "keys/crypto_binding.h"
#include "store/sign_container.h"

namespace qovra {

// Verdict codes of a signature check (SignatureStatus of a viewer).
constexpr int kSignValid = 1;             // the signature matches the data
constexpr int kSignWrong = 0;             // checked and wrong
constexpr int kSignCertUnreadable = -1;   // the signer certificate cannot be read
constexpr int kSignCertNotYetValid = -2;  // signed before the certificate's validity
constexpr int kSignCertExpired = 3;       // signed after the certificate's validity
constexpr int kSignNoContainer = -3;      // no signature container was read
constexpr int kSignUnsignedFlag = -4;     // the mail carries mfBadSignature

// What a signature container gives.
struct TMailSignature {
  bool HasSignature = false;  // a container was opened and parsed
  bool Corrupt = false;       // a container was opened but did not parse
  std::array<uint8_t, kSignatureSize> Signature{};
  std::string Certificate;   // cer0 as stored; empty when none
  TDateTime SignedTime = 0;  // UTC
};

// Reads the signature container at path. A file that cannot be opened
// leaves HasSignature and Corrupt false (and is reported to the user by the
// file stream unless silent); one that does not parse sets Corrupt (its
// reason goes to stderr, no message). on_opened, when set, is called once
// the file is open, before it is parsed (the viewer's status text).
TMailSignature ReadMailSignature(const std::string& path, bool silent,
                                 const std::function<void()>& on_opened = {});

// The signer as its certificate names it.
struct TSignerInfo {
  std::array<uint8_t, kKeyRecordSize> PublicKey{};
  std::u16string Name;      // at most 128 code units
  TDateTime ValidFrom = 0;  // UTC
  TDateTime ValidTo = 0;    // UTC
};

struct TSignatureCheckOptions {
  // Flags of the mail: mfBadSignature gives kSignUnsignedFlag at once.
  uint16_t Flags = 0;
  // Compare the signing time with the certificate's validity (bounds
  // inclusive, whole seconds in UTC). Receiving does not.
  bool CheckValidity = true;
};

// Computes the hash of the signed data; false when it cannot (the verdict
// is then kSignWrong). Called at most once, and only when every earlier
// step passed.
using TDataHashSource = std::function<bool(THashValue* out)>;

struct TSignatureCheck {
  int Status = kSignNoContainer;
  TSignerInfo Signer;  // filled from kSignCertNotYetValid on
};

// The check, in order: the unsigned flag; a container; a readable
// certificate; its validity at the signing time; the signature over the
// data hash.
TSignatureCheck CheckMailSignature(const TMailSignature& signature,
                                   const TSignatureCheckOptions& options,
                                   const TDataHashSource& data_hash);

}  // namespace qovra
