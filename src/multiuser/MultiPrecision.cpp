#include "multiuser/MultiPrecision.h"

#include <string.h>  // explicit_bzero

#include <algorithm>

#include "multiuser/Montgomery.h"

namespace remcons::mp {

void Wipe(void* data, size_t length) {
  explicit_bzero(data, length);
}

void Decode(Digit* a, unsigned digits, const uint8_t* bytes, size_t length) {
  size_t j = length;  // the next byte to take, from the end
  for (unsigned i = 0; i < digits; ++i) {
    Digit t = 0;
    for (unsigned u = 0; u < kDigitBits && j > 0; u += 8) t |= static_cast<Digit>(bytes[--j]) << u;
    a[i] = t;
  }
}

void Encode(uint8_t* bytes, size_t length, const Digit* a, unsigned digits) {
  size_t j = length;
  for (unsigned i = 0; i < digits && j > 0; ++i) {
    const Digit t = a[i];
    for (unsigned u = 0; u < kDigitBits && j > 0; u += 8) bytes[--j] = static_cast<uint8_t>(t >> u);
  }
  while (j > 0) bytes[--j] = 0;
}

void Assign(Digit* a, const Digit* b, unsigned digits) {
  std::copy_n(b, digits, a);
}

void AssignZero(Digit* a, unsigned digits) {
  std::fill_n(a, digits, 0u);
}

void Assign2Exp(Digit* a, unsigned k, unsigned digits) {
  AssignZero(a, digits);
  if (k >= kDigitBits * digits) return;
  a[k / kDigitBits] = Digit{1} << (k % kDigitBits);
}

Digit Add(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  uint64_t carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    carry += static_cast<uint64_t>(b[i]) + c[i];
    a[i] = static_cast<Digit>(carry);
    carry >>= 32;
  }
  return static_cast<Digit>(carry);
}

Digit Sub(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  Digit borrow = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const uint64_t t = static_cast<uint64_t>(b[i]) - c[i] - borrow;
    a[i] = static_cast<Digit>(t);
    borrow = static_cast<Digit>(t >> 63);
  }
  return borrow;
}

Digit LShift(Digit* a, const Digit* b, unsigned k, unsigned digits) {
  if (k >= kDigitBits) return 0;
  Digit carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const Digit bi = b[i];
    a[i] = (bi << k) | carry;
    carry = k ? bi >> (kDigitBits - k) : 0;
  }
  return carry;
}

Digit RShift(Digit* a, const Digit* b, unsigned k, unsigned digits) {
  if (k >= kDigitBits) return 0;
  Digit carry = 0;
  for (unsigned i = digits; i-- > 0;) {
    const Digit bi = b[i];
    a[i] = (bi >> k) | carry;
    carry = k ? bi << (kDigitBits - k) : 0;
  }
  return carry;
}

int Cmp(const Digit* a, const Digit* b, unsigned digits) {
  for (unsigned i = digits; i-- > 0;) {
    if (a[i] > b[i]) return 1;
    if (a[i] < b[i]) return -1;
  }
  return 0;
}

bool IsZero(const Digit* a, unsigned digits) {
  for (unsigned i = 0; i < digits; ++i) {
    if (a[i]) return false;
  }
  return true;
}

unsigned Digits(const Digit* a, unsigned digits) {
  while (digits > 0 && a[digits - 1] == 0) --digits;
  return digits;
}

unsigned BitLength(const Digit* a, unsigned digits) {
  digits = Digits(a, digits);
  if (digits == 0) return 0;
  return (digits - 1) * kDigitBits +
         (kDigitBits - static_cast<unsigned>(__builtin_clz(a[digits - 1])));
}

uint64_t DigitMult(Digit x, Digit y) {
  return static_cast<uint64_t>(x) * y;
}

Digit DigitDiv(Digit high, Digit low, Digit d) {
  return static_cast<Digit>(((static_cast<uint64_t>(high) << 32) | low) / d);
}

Digit AddDigitMult(Digit* a, const Digit* b, Digit x, const Digit* c, unsigned digits) {
  uint64_t carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    carry += static_cast<uint64_t>(x) * c[i] + b[i];
    a[i] = static_cast<Digit>(carry);
    carry >>= 32;
  }
  return static_cast<Digit>(carry);
}

Digit SubDigitMult(Digit* a, const Digit* b, Digit x, const Digit* c, unsigned digits) {
  uint64_t borrow = 0;  // what still has to come off the next digit
  for (unsigned i = 0; i < digits; ++i) {
    const uint64_t product = static_cast<uint64_t>(x) * c[i] + borrow;
    const Digit low = static_cast<Digit>(product);
    borrow = product >> 32;
    const Digit bi = b[i];
    a[i] = bi - low;
    if (low > bi) ++borrow;
  }
  return static_cast<Digit>(borrow);
}

void Mult(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  Digit t[2 * kMaxDigits] = {};
  const unsigned bDigits = Digits(b, digits), cDigits = Digits(c, digits);
  for (unsigned i = 0; i < bDigits; ++i)
    t[i + cDigits] += AddDigitMult(&t[i], &t[i], b[i], c, cDigits);
  Assign(a, t, 2 * digits);
  Wipe(t, sizeof t);
}

Digit ModDigit(const Digit* a, unsigned digits, Digit d) {
  uint64_t r = 0;
  for (unsigned i = digits; i-- > 0;) r = ((r << 32) | a[i]) % d;
  return static_cast<Digit>(r);
}

void Div(Digit* q, Digit* r, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits) {
  constexpr unsigned kWide = 2 * kMaxDigits + 2;
  Digit cc[kWide] = {}, dd[kMaxDigits] = {}, qq[kWide] = {};
  const unsigned n = Digits(d, dDigits);
  if (n == 0) {
    AssignZero(q, cDigits);
    AssignZero(r, dDigits);
    return;
  }
  // Normalise: the divisor's top digit gets its top bit set.
  const unsigned shift = static_cast<unsigned>(__builtin_clz(d[n - 1]));
  cc[cDigits] = LShift(cc, c, shift, cDigits);
  LShift(dd, d, shift, n);
  const Digit top = dd[n - 1];
  const unsigned m = Digits(cc, cDigits + 1);
  if (m >= n) {
    for (unsigned j = m - n + 1; j-- > 0;) {
      // Estimate the quotient digit from the remainder's top digits, then correct it.
      const uint64_t numerator = (static_cast<uint64_t>(cc[j + n]) << 32) | cc[j + n - 1];
      uint64_t qhat = numerator / top;
      uint64_t rhat = numerator % top;
      while (qhat >> 32 || (n > 1 && qhat * dd[n - 2] > ((rhat << 32) | cc[j + n - 2]))) {
        --qhat;
        rhat += top;
        if (rhat >> 32) break;
      }
      if (qhat >> 32) qhat = 0xFFFFFFFFu;
      const Digit borrow = SubDigitMult(&cc[j], &cc[j], static_cast<Digit>(qhat), dd, n);
      const Digit before = cc[j + n];
      cc[j + n] = before - borrow;
      bool negative = borrow > before;
      while (negative) {
        // Too many: add the divisor back until the remainder's top digit wraps round to it.
        --qhat;
        const Digit carry = Add(&cc[j], &cc[j], dd, n);
        const Digit old = cc[j + n];
        cc[j + n] += carry;
        negative = cc[j + n] >= old;
      }
      qq[j] = static_cast<Digit>(qhat);
    }
  }
  RShift(cc, cc, shift, n);
  Assign(q, qq, cDigits);
  AssignZero(r, dDigits);
  Assign(r, cc, std::min(n, dDigits));
  Wipe(cc, sizeof cc);
  Wipe(qq, sizeof qq);
}

void Mod(Digit* a, const Digit* b, unsigned bDigits, const Digit* c, unsigned cDigits) {
  Digit q[2 * kMaxDigits + 2];
  Div(q, a, b, bDigits, c, cDigits);
  Wipe(q, sizeof q);
}

void ModMult(Digit* a, const Digit* b, const Digit* c, const Digit* d, unsigned digits) {
  Digit t[2 * kMaxDigits];
  Mult(t, b, c, digits);
  Mod(a, t, 2 * digits, d, digits);
  Wipe(t, sizeof t);
}

namespace {

// b^c mod d with the two-bit window, for any modulus (the even ones that Montgomery's form cannot
// take).
void ModExpWindowed(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                    unsigned dDigits) {
  Digit powers[3][kMaxDigits] = {}, t[kMaxDigits] = {};
  Assign(powers[0], b, dDigits);
  ModMult(powers[1], powers[0], b, d, dDigits);
  ModMult(powers[2], powers[1], b, d, dDigits);
  AssignZero(t, dDigits);
  t[0] = 1;
  cDigits = Digits(c, cDigits);
  for (unsigned i = cDigits; i-- > 0;) {
    Digit ci = c[i];
    unsigned ciBits = kDigitBits;
    // The most significant digit starts at its highest non-zero pair.
    if (i == cDigits - 1) {
      while (ciBits > 0 && (ci >> 30) == 0) {
        ci <<= 2;
        ciBits -= 2;
      }
    }
    for (unsigned j = 0; j < ciBits; j += 2, ci <<= 2) {
      ModMult(t, t, t, d, dDigits);
      ModMult(t, t, t, d, dDigits);
      if (const unsigned s = ci >> 30; s != 0) ModMult(t, t, powers[s - 1], d, dDigits);
    }
  }
  Assign(a, t, dDigits);
  Wipe(powers, sizeof powers);
  Wipe(t, sizeof t);
}

}  // namespace

void ModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
            unsigned dDigits) {
  const unsigned n = Digits(d, dDigits);
  if (IsZero(c, cDigits)) {
    AssignZero(a, dDigits);
    a[0] = 1;
    return;
  }
  if (n == 0) {
    AssignZero(a, dDigits);
    return;
  }
  if ((d[0] & 1) == 0) {
    ModExpWindowed(a, b, c, cDigits, d, dDigits);
    return;
  }
  Digit base[kMaxDigits];
  Mod(base, b, dDigits, d, dDigits);
  MontgomeryModExp(a, base, c, cDigits, d, dDigits);
  Wipe(base, sizeof base);
}

}  // namespace remcons::mp
