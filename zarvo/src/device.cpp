// The key device: a PKCS#11 token carrying our marker object.
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "error_state.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/p11.h"

namespace zarvo {
namespace {

struct Device {
  std::unique_ptr<P11Module> module;
  std::unique_ptr<P11Session> session;  // destroyed before the module
  ~Device() { session.reset(); }
};

// Not a static object with a destructor: finalising modules during exit
// races with their own teardown. closeDev frees it.
Device* g_device = nullptr;

void CloseDevice() {
  delete g_device;
  g_device = nullptr;
}

bool CarriesMarker(P11Session& session) {
  std::vector<CK_OBJECT_HANDLE> objects;
  if (session.FindData(kTokenMarkerLabel, false, 4, &objects) != CKR_OK) return false;
  for (CK_OBJECT_HANDLE h : objects) {
    uint8_t value[64];
    size_t n = 0;
    if (session.ReadValue(h, value, sizeof value, &n) == CKR_OK &&
        std::string_view(reinterpret_cast<const char*>(value), n) == kTokenMarkerValue)
      return true;
  }
  return false;
}

int OpenDevice() {
  CloseDevice();
  std::string error;
  std::unique_ptr<P11Module> module = P11Module::Open(ModulePathFromEnvironment(), &error);
  if (!module) {
    SetError(ZARVO_ERR_NO_DEVICE);
    return 0;
  }
  std::vector<CK_SLOT_ID> slots;
  if (!module->SlotsWithToken(&slots)) slots.clear();
  for (CK_SLOT_ID slot : slots) {
    // Skips empty slots of software tokens and tokens we cannot open.
    if (!module->TokenInitialized(slot)) continue;
    CK_RV rv = CKR_OK;
    std::unique_ptr<P11Session> session = P11Session::Open(*module, slot, false, &rv);
    if (!session || !CarriesMarker(*session)) continue;
    auto* device = new Device();
    device->module = std::move(module);
    device->session = std::move(session);
    g_device = device;
    return 1;
  }
  SetError(ZARVO_ERR_NO_DEVICE);
  return 0;
}

// Records read from the token; wiped when dropped.
struct Records {
  uint8_t priv[kPrivateRecordSize];
  uint8_t agreement[kPublicRecordSize];
  uint8_t pub[kPublicRecordSize];
  ~Records() { OPENSSL_cleanse(this, sizeof *this); }
};

// Reads the one private data object labelled label, which must hold exactly
// size bytes. Returns an error code.
int ReadRecord(P11Session& session, std::string_view label, uint8_t* out, size_t size) {
  std::vector<CK_OBJECT_HANDLE> objects;
  if (session.FindData(label, true, 2, &objects) != CKR_OK) return ZARVO_ERR_DEVICE;
  if (objects.size() != 1) return ZARVO_ERR_DEVICE_RECORDS;
  size_t n = 0;
  const CK_RV rv = session.ReadValue(objects[0], out, size, &n);
  if (rv == CKR_BUFFER_TOO_SMALL) return ZARVO_ERR_DEVICE_RECORDS;
  if (rv != CKR_OK) return ZARVO_ERR_DEVICE;
  return n == size ? ZARVO_OK : ZARVO_ERR_DEVICE_RECORDS;
}

int ReadDevice(const char* pin, void* private_record, void* agreement_record, void* public_record) {
  if (!pin || !private_record || !agreement_record || !public_record) {
    SetError(ZARVO_ERR_ARGUMENT);
    return 0;
  }
  if (!g_device) {
    SetError(ZARVO_ERR_DEVICE_NOT_OPEN);
    return 0;
  }
  const std::string_view pin_text(pin);
  if (pin_text.empty()) {
    SetError(ZARVO_ERR_PASSWORD);
    return 0;
  }
  P11Session& session = *g_device->session;
  const CK_RV rv = session.Login(pin_text);
  if (rv != CKR_OK) {
    switch (rv) {
      case CKR_PIN_INCORRECT:
      case CKR_PIN_INVALID:
      case CKR_PIN_LEN_RANGE:
      case CKR_PIN_EXPIRED:
        SetError(ZARVO_ERR_PASSWORD);
        break;
      case CKR_PIN_LOCKED:
        SetError(ZARVO_ERR_PIN_LOCKED);
        break;
      default:
        SetError(ZARVO_ERR_DEVICE);
    }
    return 0;
  }
  auto records = std::make_unique<Records>();
  int code = ReadRecord(session, kTokenPrivateLabel, records->priv, sizeof records->priv);
  if (code == ZARVO_OK)
    code = ReadRecord(session, kTokenAgreementLabel, records->agreement, sizeof records->agreement);
  if (code == ZARVO_OK)
    code = ReadRecord(session, kTokenPublicLabel, records->pub, sizeof records->pub);
  if (code != ZARVO_OK) {
    SetError(code);
    return 0;
  }
  std::memcpy(private_record, records->priv, sizeof records->priv);
  std::memcpy(agreement_record, records->agreement, sizeof records->agreement);
  std::memcpy(public_record, records->pub, sizeof records->pub);
  return 1;
}

}  // namespace
}  // namespace zarvo

extern "C" {

int initDev(void) {
  return zarvo::Guarded([] { return zarvo::OpenDevice(); });
}

int initDPr(const char* pin, void* private_record, void* agreement_record, void* public_record) {
  return zarvo::Guarded(
      [&] { return zarvo::ReadDevice(pin, private_record, agreement_record, public_record); });
}

// Leaves the error code alone: callers read it after closing.
void closeDev(void) {
  zarvo::CloseDevice();
}

}  // extern "C"
