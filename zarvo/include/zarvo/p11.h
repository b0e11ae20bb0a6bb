// A small RAII layer over a PKCS#11 module, for zarvo's device code and for
// the tools that write tokens.
//
// A module is loaded with dlopen and stays loaded for the life of the
// process (p11-kit and the modules it loads are not made to be unloaded);
// P11Module initialises it and finalises it when destroyed.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarvo {

// p11-kit-proxy, as found when the library was built.
const char* DefaultModulePath();

// ZARVO_PKCS11_MODULE when it is set and not empty, else DefaultModulePath().
std::string ModulePathFromEnvironment();

class P11Module {
 public:
  // Loads the module at path and calls C_Initialize. Returns null and fills
  // *error when the module cannot be loaded or initialised.
  static std::unique_ptr<P11Module> Open(const std::string& path, std::string* error);
  ~P11Module();
  P11Module(const P11Module&) = delete;
  P11Module& operator=(const P11Module&) = delete;

  CK_FUNCTION_LIST* Functions() const { return fn_; }

  // Slots that hold a token, in the module's order.
  [[nodiscard]] bool SlotsWithToken(std::vector<CK_SLOT_ID>* out) const;
  // The token's label without the trailing blanks; empty on failure.
  std::string TokenLabel(CK_SLOT_ID slot) const;
  // True when the token in slot is initialised.
  bool TokenInitialized(CK_SLOT_ID slot) const;

 private:
  P11Module() = default;
  CK_FUNCTION_LIST* fn_ = nullptr;
  bool finalize_ = false;
};

// An open session; closed when destroyed. REQUIRES: the module outlives it.
class P11Session {
 public:
  // Opens a session on slot (read-write when rw). Returns null and sets *rv
  // when the module refuses.
  static std::unique_ptr<P11Session> Open(const P11Module& module, CK_SLOT_ID slot, bool rw,
                                          CK_RV* rv);
  ~P11Session();
  P11Session(const P11Session&) = delete;
  P11Session& operator=(const P11Session&) = delete;

  CK_SESSION_HANDLE Handle() const { return handle_; }
  CK_FUNCTION_LIST* Functions() const { return fn_; }

  // Logs in as the normal user. pin is used as given and not copied.
  CK_RV Login(std::string_view pin);
  // Logs out when logged in through this object.
  void Logout();

  // Data objects (CKO_DATA) with label and the given privacy, at most max of
  // them.
  CK_RV FindData(std::string_view label, bool is_private, size_t max,
                 std::vector<CK_OBJECT_HANDLE>* out);
  // Every object the session can see, at most max of them.
  CK_RV FindAll(size_t max, std::vector<CK_OBJECT_HANDLE>* out);
  // Reads CKA_VALUE into buffer when it holds at most capacity bytes; *size
  // gets its length. CKR_BUFFER_TOO_SMALL when it is longer (nothing read).
  CK_RV ReadValue(CK_OBJECT_HANDLE object, uint8_t* buffer, size_t capacity, size_t* size);
  // Reads a boolean attribute.
  CK_RV ReadBool(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, bool* value);
  // Creates a token data object.
  CK_RV CreateData(std::string_view label, std::string_view application, bool is_private,
                   const uint8_t* value, size_t size);
  CK_RV Destroy(CK_OBJECT_HANDLE object);

 private:
  P11Session() = default;
  CK_RV Find(CK_ATTRIBUTE* attrs, CK_ULONG count, size_t max, std::vector<CK_OBJECT_HANDLE>* out);
  CK_FUNCTION_LIST* fn_ = nullptr;
  CK_SESSION_HANDLE handle_ = 0;
  bool logged_in_ = false;
};

}  // namespace zarvo
