#include "zarvo/p11.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace zarvo {
namespace {

CK_BBOOL Bool(bool b) {
  return b ? CK_TRUE : CK_FALSE;
}

}  // namespace

const char* DefaultModulePath() {
  return ZARVO_DEFAULT_MODULE;
}

std::string ModulePathFromEnvironment() {
  const char* env = std::getenv("ZARVO_PKCS11_MODULE");
  if (env && *env) return env;
  return DefaultModulePath();
}

std::unique_ptr<P11Module> P11Module::Open(const std::string& path, std::string* error) {
  // Never closed: see the header.
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    if (error) *error = "cannot load the PKCS#11 module " + path;
    return nullptr;
  }
  auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(lib, "C_GetFunctionList"));
  CK_FUNCTION_LIST* fn = nullptr;
  if (!get_list || get_list(&fn) != CKR_OK || !fn) {
    if (error) *error = "the PKCS#11 module has no function list";
    return nullptr;
  }
  std::unique_ptr<P11Module> module(new P11Module());
  module->fn_ = fn;
  CK_C_INITIALIZE_ARGS args;
  std::memset(&args, 0, sizeof args);
  args.flags = CKF_OS_LOCKING_OK;
  const CK_RV rv = fn->C_Initialize(&args);
  if (rv == CKR_OK) {
    module->finalize_ = true;
  } else if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    if (error) *error = "the PKCS#11 module failed to initialise";
    return nullptr;
  }
  return module;
}

P11Module::~P11Module() {
  if (finalize_) fn_->C_Finalize(nullptr);
}

bool P11Module::SlotsWithToken(std::vector<CK_SLOT_ID>* out) const {
  out->clear();
  CK_ULONG n = 0;
  if (fn_->C_GetSlotList(CK_TRUE, nullptr, &n) != CKR_OK) return false;
  if (n == 0) return true;
  // The list may grow between the two calls; ask again with room to spare.
  out->resize(n + 8);
  n = out->size();
  if (fn_->C_GetSlotList(CK_TRUE, out->data(), &n) != CKR_OK) {
    out->clear();
    return false;
  }
  out->resize(n);
  return true;
}

std::string P11Module::TokenLabel(CK_SLOT_ID slot) const {
  CK_TOKEN_INFO info;
  std::memset(&info, 0, sizeof info);
  if (fn_->C_GetTokenInfo(slot, &info) != CKR_OK) return {};
  std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
  while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
  return label;
}

bool P11Module::TokenInitialized(CK_SLOT_ID slot) const {
  CK_TOKEN_INFO info;
  std::memset(&info, 0, sizeof info);
  return fn_->C_GetTokenInfo(slot, &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED);
}

std::unique_ptr<P11Session> P11Session::Open(const P11Module& module, CK_SLOT_ID slot, bool rw,
                                             CK_RV* rv) {
  CK_FUNCTION_LIST* fn = module.Functions();
  CK_SESSION_HANDLE h = 0;
  CK_FLAGS flags = CKF_SERIAL_SESSION | (rw ? CKF_RW_SESSION : 0);
  *rv = fn->C_OpenSession(slot, flags, nullptr, nullptr, &h);
  if (*rv != CKR_OK) return nullptr;
  std::unique_ptr<P11Session> s(new P11Session());
  s->fn_ = fn;
  s->handle_ = h;
  return s;
}

P11Session::~P11Session() {
  Logout();
  fn_->C_CloseSession(handle_);
}

CK_RV P11Session::Login(std::string_view pin) {
  // The PKCS#11 interface takes a non-const pointer but does not write.
  auto* p = reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data()));
  CK_RV rv = fn_->C_Login(handle_, CKU_USER, p, pin.size());
  if (rv == CKR_USER_ALREADY_LOGGED_IN) rv = CKR_OK;
  if (rv == CKR_OK) logged_in_ = true;
  return rv;
}

void P11Session::Logout() {
  if (logged_in_) fn_->C_Logout(handle_);
  logged_in_ = false;
}

CK_RV P11Session::Find(CK_ATTRIBUTE* attrs, CK_ULONG count, size_t max,
                       std::vector<CK_OBJECT_HANDLE>* out) {
  out->clear();
  CK_RV rv = fn_->C_FindObjectsInit(handle_, attrs, count);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_HANDLE batch[16];
  while (out->size() < max) {
    CK_ULONG got = 0;
    rv = fn_->C_FindObjects(handle_, batch, 16, &got);
    if (rv != CKR_OK || got == 0) break;
    for (CK_ULONG i = 0; i < got && out->size() < max; ++i) out->push_back(batch[i]);
  }
  const CK_RV final_rv = fn_->C_FindObjectsFinal(handle_);
  return rv != CKR_OK ? rv : final_rv;
}

CK_RV P11Session::FindData(std::string_view label, bool is_private, size_t max,
                           std::vector<CK_OBJECT_HANDLE>* out) {
  CK_OBJECT_CLASS cls = CKO_DATA;
  CK_BBOOL priv = Bool(is_private);
  CK_ATTRIBUTE attrs[] = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_PRIVATE, &priv, sizeof priv},
      {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
  };
  return Find(attrs, 3, max, out);
}

CK_RV P11Session::FindAll(size_t max, std::vector<CK_OBJECT_HANDLE>* out) {
  return Find(nullptr, 0, max, out);
}

CK_RV P11Session::ReadValue(CK_OBJECT_HANDLE object, uint8_t* buffer, size_t capacity,
                            size_t* size) {
  CK_ATTRIBUTE attr = {CKA_VALUE, nullptr, 0};
  CK_RV rv = fn_->C_GetAttributeValue(handle_, object, &attr, 1);
  if (rv != CKR_OK) return rv;
  // CK_UNAVAILABLE_INFORMATION, without the macro's C cast.
  if (attr.ulValueLen == ~CK_ULONG{0}) return CKR_ATTRIBUTE_SENSITIVE;
  if (attr.ulValueLen > capacity) return CKR_BUFFER_TOO_SMALL;
  attr.pValue = buffer;
  rv = fn_->C_GetAttributeValue(handle_, object, &attr, 1);
  if (rv != CKR_OK) return rv;
  if (attr.ulValueLen > capacity) return CKR_BUFFER_TOO_SMALL;
  *size = attr.ulValueLen;
  return CKR_OK;
}

CK_RV P11Session::ReadBool(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, bool* value) {
  CK_BBOOL b = CK_FALSE;
  CK_ATTRIBUTE attr = {type, &b, sizeof b};
  const CK_RV rv = fn_->C_GetAttributeValue(handle_, object, &attr, 1);
  *value = b == CK_TRUE;
  return rv;
}

CK_RV P11Session::CreateData(std::string_view label, std::string_view application, bool is_private,
                             const uint8_t* value, size_t size) {
  CK_OBJECT_CLASS cls = CKO_DATA;
  CK_BBOOL yes = CK_TRUE;
  CK_BBOOL priv = Bool(is_private);
  CK_ATTRIBUTE attrs[] = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_TOKEN, &yes, sizeof yes},
      {CKA_PRIVATE, &priv, sizeof priv},
      {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
      {CKA_APPLICATION, const_cast<char*>(application.data()), application.size()},
      {CKA_VALUE, const_cast<uint8_t*>(value), size},
  };
  CK_OBJECT_HANDLE h = 0;
  return fn_->C_CreateObject(handle_, attrs, sizeof attrs / sizeof attrs[0], &h);
}

CK_RV P11Session::Destroy(CK_OBJECT_HANDLE object) {
  return fn_->C_DestroyObject(handle_, object);
}

}  // namespace zarvo
