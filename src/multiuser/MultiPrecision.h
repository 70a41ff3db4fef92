// Natural numbers of up to 33 digits of 32 bits (1056 bits) for the key agreement of the
// multi-user link: arrays of digits, least significant first, with the digit count passed to every
// operation. Everything works on fixed stack arrays; nothing allocates. Operands may alias the
// result unless an operation says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace remcons::mp {

using Digit = uint32_t;
inline constexpr unsigned kDigitBits = 32;
inline constexpr unsigned kMaxDigits = 33;

// Error codes of the arithmetic and the random pool (0 is success).
inline constexpr int kErrorData = 1025;        // bad data, or an exhausted prime search
inline constexpr int kErrorNeedRandom = 1032;  // the random pool is not seeded yet

// a = the big-endian byte string, filled from the least significant end: bytes beyond what the
// digits hold are ignored, missing ones are zero.
void Decode(Digit* a, unsigned digits, const uint8_t* bytes, size_t length);
// a as a big-endian string of exactly length bytes: digits beyond length are dropped, missing high
// bytes are zero.
void Encode(uint8_t* bytes, size_t length, const Digit* a, unsigned digits);

void Assign(Digit* a, const Digit* b, unsigned digits);
void AssignZero(Digit* a, unsigned digits);
// a = 2^k; zero when k is not below 32 * digits.
void Assign2Exp(Digit* a, unsigned k, unsigned digits);

// a = b + c and a = b - c modulo 2^(32 * digits); the carry or borrow out.
Digit Add(Digit* a, const Digit* b, const Digit* c, unsigned digits);
Digit Sub(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a = b shifted by k < 32 bits; the bits shifted out (LShift: in the low bits of the result,
// RShift: in its high bits). k of 32 or more does nothing and returns 0.
Digit LShift(Digit* a, const Digit* b, unsigned k, unsigned digits);
Digit RShift(Digit* a, const Digit* b, unsigned k, unsigned digits);

// -1, 0 or 1 as a is below, equal to or above b.
int Cmp(const Digit* a, const Digit* b, unsigned digits);
bool IsZero(const Digit* a, unsigned digits);
// The count of significant digits (0 for zero).
unsigned Digits(const Digit* a, unsigned digits);

// The 64-bit product of two digits.
uint64_t DigitMult(Digit x, Digit y);
// (high * 2^32 + low) div d for a divisor whose top bit is set and high below d.
Digit DigitDiv(Digit high, Digit low, Digit d);
// a = b + x * c and a = b - x * c over digits; the carry or borrow digit out.
Digit AddDigitMult(Digit* a, const Digit* b, Digit x, const Digit* c, unsigned digits);
Digit SubDigitMult(Digit* a, const Digit* b, Digit x, const Digit* c, unsigned digits);

// a (2 * digits digits) = b * c; digits at most kMaxDigits.
void Mult(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// q (cDigits) = c div d and r (dDigits) = c mod d, for cDigits up to 2 * kMaxDigits and dDigits up
// to kMaxDigits. A zero divisor gives zero for both.
void Div(Digit* q, Digit* r, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits);
// a (cDigits) = b mod c.
void Mod(Digit* a, const Digit* b, unsigned bDigits, const Digit* c, unsigned cDigits);
// a = b * c mod d.
void ModMult(Digit* a, const Digit* b, const Digit* c, const Digit* d, unsigned digits);
// a (dDigits) = b^c mod d, b of dDigits, c of cDigits. An exponent of 0 gives 1; a zero modulus
// gives 0. Every temporary is wiped before it returns.
void ModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
            unsigned dDigits);

// a mod d for a single digit d (not 0).
Digit ModDigit(const Digit* a, unsigned digits, Digit d);
// The number of significant bits.
unsigned BitLength(const Digit* a, unsigned digits);

// Overwrites memory that held a secret (the compiler may not drop it).
void Wipe(void* data, size_t length);

}  // namespace remcons::mp
