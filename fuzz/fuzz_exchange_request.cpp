// The exchange server's request parsing on arbitrary input: the header part
// (both forms), the string form under a fixed session key, and the request
// XML, both as given and as unsealed. Whatever the bytes: no crash, no read
// outside the input, and every view the header parser hands out lies inside
// the part.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "envelope.h"
#include "request_xml.h"
#include "string_form.h"

namespace {

bool Inside(std::string_view inner, std::string_view outer) {
  return inner.empty() || (inner.data() >= outer.data() &&
                           inner.data() + inner.size() <= outer.data() + outer.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string part(reinterpret_cast<const char*>(data), size);
  static const uint8_t kKey[64] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                   17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
                                   33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
                                   49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64};
  static const uint8_t kSid[32] = {9, 8, 7, 6, 5, 4, 3, 2, 1};

  exchange::RequestHeader h;
  if (exchange::ParseRequestHeader(part, h) == exchange::HeaderStatus::Ok) {
    if (!Inside(h.signed_bytes, part) || !Inside(h.signature, part) || !Inside(h.sid, part) ||
        !Inside(h.sealed_xml, part) || h.signature.size() != exchange::kEnvelopeSignatureSize)
      __builtin_trap();
    if (h.form == exchange::RequestForm::Session) {
      std::string xml;
      if (exchange::UnsealString(kKey, kSid, h.sealed_xml, xml) == exchange::UnsealStatus::Ok) {
        if (xml.size() > h.sealed_xml.size()) __builtin_trap();
        exchange::RequestXml request;
        std::string error;
        (void)exchange::ParseRequestXml(xml, request, error);
      }
    }
  }
  std::string text;
  if (exchange::UnsealString(kKey, kSid, part, text) == exchange::UnsealStatus::Ok &&
      text.size() >= part.size())
    __builtin_trap();
  exchange::RequestXml request;
  std::string error;
  if (exchange::ParseRequestXml(part, request, error)) {
    for (pugi::xml_node n = request.root.first_child(); n; n = n.next_sibling())
      (void)request.Value(n.name());
  }
  return 0;
}
