#include "mail/signature_check.h"

#include <zarvo.h>

#include <cmath>
#include <cstdio>

#include "base/file_stream.h"
#include "keys/cert_owner.h"
#include "store/sign_container_reader.h"
#include "tevqa.h"

namespace qovra {

namespace {

constexpr TDateTime kUnixEpochDays = 25569.0;

TDateTime UnixToDateTime(int64_t seconds) {
  return kUnixEpochDays + static_cast<double>(seconds) / 86400.0;
}

// Whole seconds since 1970 (UTC); the signing time is read to the second.
int64_t DateTimeToUnix(TDateTime t) {
  return std::llround((t - kUnixEpochDays) * 86400.0);
}

}  // namespace

TMailSignature ReadMailSignature(const std::string& path, bool silent,
                                 const std::function<void()>& on_opened) {
  TMailSignature out;
  TEFileStream file(path, silent, /*delete_on_free=*/false, fmOpenRead);
  if (!file.Opened()) return out;
  if (on_opened) on_opened();
  TSignReader reader(file);
  if (!reader.Parse()) {
    std::fprintf(stderr, "qovra: signature container %s: %s\n", path.c_str(),
                 reader.Error().c_str());
    out.Corrupt = true;
    return out;
  }
  out.HasSignature = true;
  out.Signature = reader.Signature();
  out.Certificate = std::string(reader.Certificate());
  out.SignedTime = reader.SignedDate();
  return out;
}

TSignatureCheck CheckMailSignature(const TMailSignature& signature,
                                   const TSignatureCheckOptions& options,
                                   const TDataHashSource& data_hash) {
  TSignatureCheck check;
  if ((options.Flags & mfBadSignature) != 0) {
    check.Status = kSignUnsignedFlag;
    return check;
  }
  if (!signature.HasSignature) {
    check.Status = kSignNoContainer;
    return check;
  }
  const std::string& cert = signature.Certificate;
  std::array<uint8_t, 256> owner{};
  int64_t from = 0;
  int64_t to = 0;
  TCertificateOwner name;
  if (cert.empty() || cert.size() > INT32_MAX ||
      initBCr(cert.data(), static_cast<int32_t>(cert.size()), check.Signer.PublicKey.data(),
              owner.data(), &from, &to) <= 0 ||
      !CertificateOwnerFromData(cert, &name)) {
    check.Status = kSignCertUnreadable;
    return check;
  }
  check.Signer.Name = name.Name();
  check.Signer.ValidFrom = UnixToDateTime(from);
  check.Signer.ValidTo = UnixToDateTime(to);
  if (options.CheckValidity) {
    const int64_t signed_at = DateTimeToUnix(signature.SignedTime);
    if (from > signed_at) {
      check.Status = kSignCertNotYetValid;
      return check;
    }
    if (to < signed_at) {
      check.Status = kSignCertExpired;
      return check;
    }
  }
  THashValue hash{};
  int verdict = 0;
  if (!data_hash || !data_hash(&hash) ||
      UZDST_SIGNATURE_verify(hash.data(), check.Signer.PublicKey.data(), signature.Signature.data(),
                             &verdict) != 1) {
    check.Status = kSignWrong;
    return check;
  }
  check.Status = verdict == 1 ? kSignValid : kSignWrong;
  return check;
}

}  // namespace qovra
