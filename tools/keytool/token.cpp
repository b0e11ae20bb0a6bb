#include "token.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "zarvo/formats.h"
#include "zarvo/p11.h"

namespace keytool {
namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

std::string Rv(CK_RV rv) {
  char text[32];
  std::snprintf(text, sizeof text, " (0x%lx)", static_cast<unsigned long>(rv));
  return text;
}

}  // namespace

bool WriteToken(const std::string& module_path, const std::string& token_label,
                const std::string& pin, const TokenRecords& records, std::string* error) {
  std::unique_ptr<zarvo::P11Module> module = zarvo::P11Module::Open(module_path, error);
  if (!module) return false;
  std::vector<CK_SLOT_ID> slots;
  if (!module->SlotsWithToken(&slots)) return Fail(error, "cannot list the slots");
  for (CK_SLOT_ID slot : slots) {
    if (module->TokenLabel(slot) != token_label) continue;
    CK_RV rv = CKR_OK;
    auto session = zarvo::P11Session::Open(*module, slot, true, &rv);
    if (!session) return Fail(error, "cannot open a session" + Rv(rv));
    rv = session->Login(pin);
    if (rv != CKR_OK) return Fail(error, "login refused" + Rv(rv));
    const struct {
      std::string_view label;
      bool is_private;
      const uint8_t* data;
      size_t size;
    } objects[] = {
        {zarvo::kTokenPrivateLabel, true, records.priv.data(), records.priv.size()},
        {zarvo::kTokenAgreementLabel, true, records.agreement.data(), records.agreement.size()},
        {zarvo::kTokenPublicLabel, true, records.pub.data(), records.pub.size()},
        {zarvo::kTokenMarkerLabel, false,
         reinterpret_cast<const uint8_t*>(zarvo::kTokenMarkerValue.data()),
         zarvo::kTokenMarkerValue.size()},
    };
    for (const auto& o : objects) {
      std::vector<CK_OBJECT_HANDLE> old;
      rv = session->FindData(o.label, o.is_private, 64, &old);
      if (rv != CKR_OK) return Fail(error, "cannot search the token" + Rv(rv));
      for (CK_OBJECT_HANDLE h : old) {
        rv = session->Destroy(h);
        if (rv != CKR_OK) return Fail(error, "cannot remove an old object" + Rv(rv));
      }
    }
    for (const auto& o : objects) {
      rv = session->CreateData(o.label, zarvo::kTokenApplication, o.is_private, o.data, o.size);
      if (rv != CKR_OK) return Fail(error, "cannot write an object" + Rv(rv));
    }
    return true;
  }
  return Fail(error, "no token labelled \"" + token_label + "\"");
}

}  // namespace keytool
