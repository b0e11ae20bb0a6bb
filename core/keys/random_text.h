// Random characters, hexadecimal text and the envelope's check byte.
//
// Random bytes come from the ulmox library unless a test has installed a
// source of its own. The generator's verdict on each draw is not looked at:
// the bytes are used as delivered. Not thread-safe; the client draws on its
// one working thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qovra {

// Fills out[0..n) with random bytes.
using RandomByteSource = std::function<void(uint8_t* out, size_t n)>;

// Replaces the byte source (tests). An empty function restores ulmox.
void SetRandomByteSource(RandomByteSource source);

// Module lifetime: RandomStartup gathers the system's entropy once, before
// the first draw; RandomShutdown wipes the generator's state after the last.
// A draw after shut-down polls again.
void RandomStartup();
void RandomShutdown();

// Runs RandomStartup on construction and RandomShutdown on destruction.
class RandomModuleScope {
 public:
  RandomModuleScope() { RandomStartup(); }
  ~RandomModuleScope() { RandomShutdown(); }
  RandomModuleScope(const RandomModuleScope&) = delete;
  RandomModuleScope& operator=(const RandomModuleScope&) = delete;
};

// Character sets of RandomString.
enum RandomTextKind : int {
  kRandomAlnum = 0,     // digits, capitals, small letters
  kRandomDigits = 1,    // digits
  kRandomHex = 2,       // upper-case hexadecimal digits
  kRandomLetters = 3,   // capitals and small letters
  kRandomUpperNum = 4,  // capitals and digits
  kRandomUpper = 5,     // capitals (also any kind not listed here)
};

// Fills out[0..n) with random bytes of the current source.
void RandomBytes(uint8_t* out, size_t n);

// count characters of the given kind, one per random byte. The kinds do not
// spread evenly over their characters.
std::string RandomString(size_t count, int kind);

// 2 * count upper-case hexadecimal digits of count random bytes.
std::string RandomHexString(size_t count);

// The same digits written to buffer, which must hold 2 * count characters;
// no terminator is written.
void RandomHexToBuffer(size_t count, char* buffer);

// The b-fold power of a under x (+) y = (x + y + c*x*y) mod modulus: b = 0
// gives 1 and b = 1 gives a unchanged; any other b gives a value below
// modulus. REQUIRES: modulus > 0 (0 gives 0).
uint32_t ModCirclePower(uint32_t a, uint8_t b, uint8_t c, uint32_t modulus);

// The envelope's check byte over three of its bytes.
uint8_t CheckByte(uint8_t a, uint8_t b, uint8_t c);

}  // namespace qovra
