// Reading signature containers (.ems), plain or zlib-compressed (first
// bytes 0x78 0xDA). See sign_container.h for the layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "base/stream.h"
#include "store/sign_container.h"

namespace qovra {

// Largest signature container read, plain or inflated. Real ones hold a
// signature, a certificate and a key value: a few kilobytes.
constexpr int64_t kMaxSignContainerSize = int64_t{1} << 20;

// Parses one signature container in memory.
//
// The reader does not own the source stream, which must stay valid until
// Parse returns. Parsing is strict in the way the mail container reader is:
// headers MailUID, SignedDate and the content type in this order; a first
// section "sign" of exactly 160 bytes; every further section announced by
// the boundary line with a decimal size that fits; the closing line, or a
// boundary line after the signature that ends the data.
// Sections after "sign" may be of any size within the container's cap.
class TSignReader {
 public:
  struct Section {
    std::string name;
    std::string data;
  };

  explicit TSignReader(TStream& source) : source_(source) {}

  // Reads the source from its start and parses it. True on success; on
  // failure Parsed() stays false, Error() says why and the values read
  // before the fault stay set. Never throws.
  [[nodiscard]] bool Parse();

  bool Parsed() const { return parsed_; }
  const std::string& Error() const { return error_; }

  const std::string& MailUID() const { return mail_uid_; }
  // The SignedDate header as a time (UTC); 0 when it does not convert.
  TDateTime SignedDate() const { return signed_date_; }
  const std::array<uint8_t, kSignatureSize>& Signature() const { return signature_; }
  // The sections after "sign", in file order.
  const std::vector<Section>& Parts() const { return parts_; }

  // The data of the first section named "cer0" / "dhk" (without regard to
  // case); empty when the container has none, which callers treat as an
  // unreadable certificate.
  std::string_view Certificate() const { return PartData("cer0"); }
  std::string_view DhKey() const { return PartData("dhk"); }

 private:
  bool Fail(std::string reason);
  bool LoadPlain(std::string& data);
  bool ParseData(std::string_view data);
  std::string_view PartData(std::string_view name) const;

  TStream& source_;
  std::string mail_uid_;
  TDateTime signed_date_ = 0;
  std::array<uint8_t, kSignatureSize> signature_{};
  std::vector<Section> parts_;
  bool parsed_ = false;
  std::string error_;
};

}  // namespace qovra
