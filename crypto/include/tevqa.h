/* tevqa: 256-bit hash, 256-bit block cipher, signature and key agreement.
 *
 * Every buffer passed in is owned by the caller and has the fixed size given
 * here; the library allocates nothing that outlives a call and keeps no state
 * of its own except the process-wide hash tables described below.
 *
 * Numbers inside key records are big-endian, right-aligned and zero-filled.
 * The hash tables are shared by the process: see the hash section for which
 * calls may run at once.
 */
#ifndef TEVQA_H
#define TEVQA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TEVQA_BUILDING)
#define TEVQA_API __attribute__((visibility("default")))
#else
#define TEVQA_API
#endif

enum {
  TEVQA_HASH_CONTEXT_SIZE = 132,
  TEVQA_HASH_SIZE = 32,
  TEVQA_SBOX_SIZE = 128,
  TEVQA_CIPHER_CONTEXT_SIZE = 832,
  TEVQA_CIPHER_KEY_SIZE = 64,
  TEVQA_BLOCK_SIZE = 32,
  TEVQA_PUBLIC_RECORD_SIZE = 768,
  TEVQA_PRIVATE_RECORD_SIZE = 256,
  TEVQA_SIGNATURE_SIZE = 160
};

/* ---- Hash ----------------------------------------------------------------
 * The expanded substitution tables are ONE set for the whole process.
 * UZDST_HASH_init, UZDST_HASH_data and UZDST_SIGNATURE_generate rewrite them;
 * an open context hashes each block with whatever set is in force then.
 * Loading the built-in set (NULL) writes nothing unless a caller's set was
 * loaded before, so threads that all pass NULL may run these calls at once;
 * a caller passing its own set must exclude every other caller.
 * sbox: 128 bytes (8 rows of 16 four-bit entries) or NULL for the built-in
 * CryptoPro set. */

/* Loads the tables, zeroes all 132 bytes of ctx, returns ctx. */
TEVQA_API void* UZDST_HASH_init(void* ctx, const void* sbox);
/* Absorbs len bytes. */
TEVQA_API void UZDST_HASH_update(void* ctx, const void* data, uint32_t len);
/* Writes the 32-byte hash; ctx is not cleared. */
TEVQA_API void UZDST_HASH_final(void* ctx, void* out);
/* One shot; loads the tables as UZDST_HASH_init does. */
TEVQA_API void UZDST_HASH_data(const void* data, uint32_t len, const void* sbox, void* out);

/* ---- Block cipher (32-byte blocks, 64-byte keys) --------------------------
 * ctx: 832 bytes. Returns 1 when the key is usable, else 0 and ctx untouched.
 * encrypt: nonzero = encryption context, 0 = decryption context. */
TEVQA_API int UZDST_CIPHER_init(void* ctx, const void* key, int encrypt);
/* block := E(block XOR chain). */
TEVQA_API void UZDST_CIPHER_enc(const void* ctx, const void* chain, void* block);
/* block := D(block) XOR chain. */
TEVQA_API void UZDST_CIPHER_dec(const void* ctx, const void* chain, void* block);
/* CBC over whole blocks from a private copy of iv. Both directions may run
 * in place (out == in); other overlaps are not allowed. */
TEVQA_API void UZDST_CIPHER_cbc(const void* ctx, const void* iv, const void* in, void* out,
                                uint32_t blocks, int encrypt);

/* ---- Key agreement ---------------------------------------------------------
 * priv: the first 64 bytes of a private record; own/peer: 768-byte records
 * that must agree in bytes 0-159 and 448-479. out: 64-byte cipher key.
 * Returns 1 = written, 0 = refused or failed. */
TEVQA_API int UZDST_CIPHER_KEY_generate(const void* priv, const void* own, const void* peer,
                                        void* out);
/* out = base^[exp] with coefficient r modulo mod, right-aligned into out_len
 * bytes. Returns 0 without writing for a null pointer, a zero length, or
 * out_len below mod_len. */
TEVQA_API int UZDST_DIADH_generate(const void* r, int32_t r_len, const void* base,
                                   int32_t base_len, const void* exp, int32_t exp_len,
                                   const void* mod, int32_t mod_len, void* out, int32_t out_len);

/* ---- Signature -------------------------------------------------------------
 * hash: 32 bytes; priv: 256-byte private record; pub: 768-byte public record;
 * sig: 160 bytes (r: 128, S: 32). Deterministic: same hash and key, same
 * signature. Resets the process-wide hash tables to the built-in set. */
TEVQA_API int UZDST_SIGNATURE_generate(const void* hash, const void* priv, const void* pub,
                                       void* sig);
/* Returns 1 when checked (verdict 1 valid, 0 invalid), 0 when not checked
 * (verdict 0). */
TEVQA_API int UZDST_SIGNATURE_verify(const void* hash, const void* pub, const void* sig,
                                     int* verdict);

#ifdef __cplusplus
}
#endif

#endif /* TEVQA_H */
