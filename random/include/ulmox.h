/* ulmox: the process's source of random bytes.
 *
 * One pool per process (1023 bytes and a 32-byte running digest), mixed with
 * the 256-bit hash under its built-in substitution set. The library hashes
 * with tables of its own: a draw never disturbs a hash context that a caller
 * has open in tevqa.
 *
 * The pool is fed once per process from the system's entropy sources and
 * carries an entropy estimate; the generator counts as good once the estimate
 * has reached ULMOX_ENTROPY_GOAL. Every buffer is owned by the caller.
 *
 * The calls are not thread-safe: all callers must run on one thread.
 */
#ifndef ULMOX_H
#define ULMOX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ULMOX_BUILDING)
#define ULMOX_API __attribute__((visibility("default")))
#else
#define ULMOX_API
#endif

/* The entry points are numbered; ELF has no ordinals, so the numbers are kept
 * here for reference and the calls are bound by name. The main program uses
 * 1, 2 and 5. */
enum {
  ULMOX_ORDINAL_POLL_SYSTEM = 1,
  ULMOX_ORDINAL_CLEANUP = 2,
  ULMOX_ORDINAL_ADD = 3,
  ULMOX_ORDINAL_SEED = 4,
  ULMOX_ORDINAL_BYTES = 5
};

enum { ULMOX_POOL_SIZE = 1023, ULMOX_ENTROPY_GOAL = 32 };

/* 1. Gathers system entropy into the pool, the first time only (again after
 * random_cleanup). A source that fails is skipped. */
ULMOX_API void random_poll_system(void);

/* 2. Wipes the pool, the digest, the counters, the position and the estimate
 * and forgets the poll, so that the next use polls again. The pool stays
 * marked as stirred. Always returns 0. */
ULMOX_API int random_cleanup(void);

/* 3. Mixes length bytes of buffer into the pool and raises the estimate by
 * entropy when the estimate is below the goal. A length below 1 or a null
 * buffer changes nothing; an estimate that is negative or not finite counts
 * as 0 (the bytes are still mixed in). */
ULMOX_API void random_add(const void* buffer, int32_t length, double entropy);

/* 4. random_add with the estimate equal to length. */
ULMOX_API void random_seed(const void* buffer, int32_t length);

/* 5. Writes length random bytes to buffer. Polls the system first when it has
 * not been polled. Returns 1 when the estimate had reached the goal before the
 * call, else 0 (the estimate then drops by length, not below 0); the bytes are
 * written either way. The buffer's previous contents are mixed in, so it must
 * be readable as well as writable. A length below 1 returns 1 and changes
 * nothing; a null buffer with a positive length returns 0 and changes
 * nothing. */
ULMOX_API int random_bytes(void* buffer, int32_t length);

#ifdef __cplusplus
}
#endif

#endif /* ULMOX_H */
