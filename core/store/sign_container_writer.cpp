#include "base/stream.h"
#include "base/time_stamp.h"
#include "store/sign_container.h"

namespace qovra {

std::string BuildSignatureRecord(std::string_view uuid,
                                 std::span<const uint8_t, kSignatureSize> signature,
                                 std::string_view certificate,
                                 std::span<const uint8_t, kKeyRecordSize> dh_key_record,
                                 TDateTime signed_utc, std::string boundary) {
  TMemoryStream stream;
  {
    TSignWriter writer(stream, std::move(boundary));
    writer.AddHeader("MailUID:", uuid);
    writer.AddHeader("SignedDate:", DateTimeToStamp(true, signed_utc));
    writer.WriteContentType();
    writer.AddField("sign", std::string_view(reinterpret_cast<const char*>(signature.data()),
                                             signature.size()));
    writer.AddField("cer0", certificate);
    writer.AddField("dhk", std::string_view(
                               reinterpret_cast<const char*>(dh_key_record.data()) + kDhValueOffset,
                               kDhValueSize));
    // A memory stream takes every byte, so the writer cannot fail here.
    (void)writer.Finish();
  }
  return stream.Data();
}

}  // namespace qovra
