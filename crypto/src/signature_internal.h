// Internal entry points of the signature, with a choice of path so tests can
// hold the fast code against the literal group formulas: kFast (what the
// exports use: IFMA arithmetic where the processor has it), kPortable (the
// same formulas on OpenSSL's arithmetic alone) and kLiteral.
#pragma once

#include <cstdint>

namespace tevqa {

enum class SignPath { kFast, kPortable, kLiteral };

// A valid key needs a retry with probability about 2^-256; records for which
// no signature exists (q = 1, say) must not hang the caller.
constexpr int kMaxSignRetries = 1000;

int SignatureGenerate(const uint8_t* hash, const uint8_t* priv, const uint8_t* pub, uint8_t* sig,
                      SignPath path);
int SignatureVerify(const uint8_t* hash, const uint8_t* pub, const uint8_t* sig, int* verdict,
                    SignPath path);

}  // namespace tevqa
