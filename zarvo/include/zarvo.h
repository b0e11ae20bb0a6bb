/* zarvo: the key-device library.
 *
 * Reads the user's keys from a key device (a PKCS#11 token reached through
 * p11-kit) or from a key file, and parses certificates into the 768-byte
 * public-key record that the tevqa library uses.
 *
 * Record sizes: private-key record 256 bytes, key-agreement record and
 * public-key record 768 bytes each. Every output buffer is owned by the
 * caller and must have the size named; on failure no output is written.
 *
 * The calls keep process-wide state (the open device and the last error
 * code) and are not thread-safe. No call throws.
 *
 * Formats:
 * - Certificate: X.509 v3, DER or PEM. The subject public key algorithm is
 *   ZARVO_OID_PUBLIC_KEY and the key bit string is the 768-byte public-key
 *   record itself. The owner is the subject's common name. Certificates are
 *   signed with ZARVO_OID_SIGNATURE (the tevqa signature over the hash of the
 *   TBSCertificate DER); this library does not check the signature.
 * - Key file: either exactly 256 bytes, the private-key record in clear, or
 *   a password-protected file starting with "QPRK" that holds the private-key
 *   record and a key-agreement record (layout in zarvo/formats.h).
 * - Key device: a token carrying the public marker object; the three
 *   records are private data objects read after login (zarvo/formats.h).
 */
#ifndef ZARVO_H
#define ZARVO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Our private object identifiers, all under one UUID-derived 2.25 arc. */
#define ZARVO_OID_ARC "2.25.120503491197047717742841180733972110702"
#define ZARVO_OID_PUBLIC_KEY ZARVO_OID_ARC ".1"
#define ZARVO_OID_SIGNATURE ZARVO_OID_ARC ".2"

/* Codes returned by getErr. */
enum {
  ZARVO_OK = 0,
  ZARVO_ERR_ARGUMENT = 1,        /* a null pointer or a negative length */
  ZARVO_ERR_KEY_FILE = 2,        /* the key file has neither accepted form */
  ZARVO_ERR_PASSWORD = 3,        /* a password or PIN is needed or wrong; for a
                                    protected key file also an altered file */
  ZARVO_ERR_CERTIFICATE = 4,     /* not a readable X.509 v3 certificate */
  ZARVO_ERR_CERT_KEY = 5,        /* the certificate's key is not a 768-byte
                                    record of our algorithm */
  ZARVO_ERR_NO_DEVICE = 6,       /* no PKCS#11 module, or no token carrying
                                    the marker */
  ZARVO_ERR_DEVICE_NOT_OPEN = 7, /* initDPr without a successful initDev */
  ZARVO_ERR_PIN_LOCKED = 8,      /* the token refuses further PIN attempts */
  ZARVO_ERR_DEVICE_RECORDS = 9,  /* a record on the token is missing, doubled
                                    or has the wrong size */
  ZARVO_ERR_DEVICE = 10,         /* any other failure of the token or module */
  ZARVO_ERR_INTERNAL = 11        /* out of memory or a library failure */
};

/* Opens the first token that carries the marker object. Returns nonzero
 * when one is open. A device left open by an earlier call is closed first.
 * The PKCS#11 module is p11-kit-proxy; the environment variable
 * ZARVO_PKCS11_MODULE names another module (meant for tests). */
int initDev(void);

/* Logs in to the open device with pin (zero-terminated) and reads the three
 * records. Returns nonzero when all three were filled; 0 with getErr 3 for
 * an empty or wrong PIN, 7 when no device is open, other codes as above.
 * The device stays open (and logged in on success) until closeDev. */
int initDPr(const char* pin, void* private_record, void* agreement_record, void* public_record);

/* Reads a key file of len bytes. password is zero-terminated and may be
 * empty; it is ignored for a clear 256-byte file. Returns nonzero when both
 * outputs are filled. A clear file carries no key-agreement record: the
 * agreement output is then filled with zeros, and the caller puts the
 * certificate's record there. */
int initBPr(const void* data, int32_t len, const char* password, void* private_record,
            void* agreement_record);

/* Parses a certificate of len bytes into the 768-byte public-key record.
 * Returns nonzero on success. */
int initBPb(const void* data, int32_t len, void* public_record);

/* Parses a certificate. Each output may be null: the 768-byte record; the
 * 256-byte owner name (the subject common name: UTF-8 bytes, or UCS-2
 * big-endian when it is a BMPString; cut at 256 bytes on a character
 * boundary and zero-filled); the start and end of validity in seconds since
 * 1970-01-01 00:00:00 UTC. A certificate without a common name gives an
 * all-zero name. Returns a value greater than 0 when parsed. */
int initBCr(const void* data, int32_t len, void* record, void* owner_name, int64_t* valid_from,
            int64_t* valid_to);

/* The code of the most recent call's failure; 0 after a call that succeeded. */
int getErr(void);

/* Logs out, closes the session and finalises the module. Safe to call when
 * nothing is open. */
void closeDev(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_H */
