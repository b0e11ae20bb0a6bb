// Writing signature containers (.ems).
//
// The layout is the mail container's (mail_container_writer.h) with other
// headers and sections:
//
//   MailUID: <uuid>\r\n
//   SignedDate: <yyyy-mm-dd hh:nn:ss, UTC>\r\n
//   Content-Type: multipart/form-data; boundary=<B>\r\n
//   sections "sign" (160 bytes), "cer0" (the certificate) and "dhk" (the
//   128-byte key-agreement public value), then \r\n--<B>--
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/records.h"
#include "store/mail_container_writer.h"

namespace qovra {

constexpr size_t kSignatureSize = 160;
constexpr size_t kKeyRecordSize = 768;
// The key-agreement public value: bytes 288 to 415 of a key-agreement record.
constexpr size_t kDhValueOffset = 288;
constexpr size_t kDhValueSize = 128;

// The signature container writer is the plain multipart writer, used on a
// memory stream.
using TSignWriter = TMultipartWriter;

// The whole signature container of one mail: uuid as given, signed_utc as
// time text, the signature, the certificate bytes and bytes 288 to 415 of
// dh_key_record. boundary: empty makes a new one.
std::string BuildSignatureRecord(std::string_view uuid,
                                 std::span<const uint8_t, kSignatureSize> signature,
                                 std::string_view certificate,
                                 std::span<const uint8_t, kKeyRecordSize> dh_key_record,
                                 TDateTime signed_utc, std::string boundary = {});

}  // namespace qovra
