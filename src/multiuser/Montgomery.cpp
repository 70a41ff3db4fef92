#include "multiuser/Montgomery.h"

#include <algorithm>
#include <array>
#include <utility>

namespace remcons::mp {
namespace {

using Limb = uint64_t;
using Wide = unsigned __int128;
constexpr unsigned kMaxLimbs = (kMaxDigits + 1) / 2;

// The modulus of N limbs and what its form needs; R = 2^(64 N).
template <unsigned N>
class Form {
 public:
  explicit Form(const Digit* d, unsigned dDigits) {
    ToLimbs(m_.data(), d, dDigits);
    // -m^-1 mod 2^64 by Newton's iteration: each step doubles the correct low bits.
    Limb inverse = m_[0];
    for (int i = 0; i < 5; ++i) inverse *= 2 - m_[0] * inverse;
    n0_ = ~inverse + 1;
    // R mod m, through the digit division.
    Digit r[2 * kMaxLimbs + 1], rModM[kMaxDigits];
    Assign2Exp(r, 64 * N, 2 * N + 1);
    Mod(rModM, r, 2 * N + 1, d, dDigits);
    ToLimbs(one_.data(), rModM, dDigits);
  }

  static void ToLimbs(Limb* out, const Digit* a, unsigned digits) {
    for (unsigned i = 0; i < N; ++i) {
      const Limb low = 2 * i < digits ? a[2 * i] : 0;
      const Limb high = 2 * i + 1 < digits ? a[2 * i + 1] : 0;
      out[i] = low | high << 32;
    }
  }
  static void FromLimbs(Digit* out, unsigned digits, const Limb* a) {
    for (unsigned i = 0; i < digits; ++i) {
      out[i] = i / 2 < N ? static_cast<Digit>(a[i / 2] >> (32 * (i % 2))) : 0;
    }
  }

  // x R mod m for a digit number x below m.
  void Enter(Limb* out, const Digit* x, const Digit* d, unsigned dDigits) const {
    Digit rModM[kMaxDigits], t[kMaxDigits];
    AssignZero(rModM, dDigits);
    FromLimbs(rModM, std::min(dDigits, 2 * N), one_.data());
    ModMult(t, x, rModM, d, dDigits);
    ToLimbs(out, t, dDigits);
    Wipe(t, sizeof t);
  }

  const Limb* one() const { return one_.data(); }

  void Mul(Limb* out, const Limb* a, const Limb* b) const {
    Limb t[2 * N] = {};
    for (unsigned i = 0; i < N; ++i) {
      Wide c = 0;
      for (unsigned j = 0; j < N; ++j) {
        c += static_cast<Wide>(a[i]) * b[j] + t[i + j];
        t[i + j] = static_cast<Limb>(c);
        c >>= 64;
      }
      t[i + N] = static_cast<Limb>(c);
    }
    Reduce(out, t);
  }

  void Sqr(Limb* out, const Limb* a) const {
    Limb t[2 * N] = {};
    for (unsigned i = 0; i + 1 < N; ++i) {
      Wide c = 0;
      for (unsigned j = i + 1; j < N; ++j) {
        c += static_cast<Wide>(a[i]) * a[j] + t[i + j];
        t[i + j] = static_cast<Limb>(c);
        c >>= 64;
      }
      t[i + N] = static_cast<Limb>(c);
    }
    Limb carry = 0;
    for (unsigned k = 0; k < 2 * N; ++k) {
      const Limb v = t[k];
      t[k] = v << 1 | carry;
      carry = v >> 63;
    }
    Wide c = 0;
    for (unsigned i = 0; i < N; ++i) {
      const Wide square = static_cast<Wide>(a[i]) * a[i];
      c += static_cast<Limb>(square);
      c += t[2 * i];
      t[2 * i] = static_cast<Limb>(c);
      c >>= 64;
      c += static_cast<Limb>(square >> 64);
      c += t[2 * i + 1];
      t[2 * i + 1] = static_cast<Limb>(c);
      c >>= 64;
    }
    Reduce(out, t);
  }

  // out = 2 a mod m.
  void Double(Limb* out, const Limb* a) const {
    Limb carry = 0;
    for (unsigned k = 0; k < N; ++k) {
      const Limb v = a[k];
      out[k] = v << 1 | carry;
      carry = v >> 63;
    }
    if (carry || !Below(out)) SubtractModulus(out);
  }

  // Out of the form: a R^-1 mod m.
  void Leave(Limb* out, const Limb* a) const {
    Limb t[2 * N] = {};
    std::copy_n(a, N, t);
    Reduce(out, t);
  }

 private:
  bool Below(const Limb* a) const {
    for (unsigned k = N; k-- > 0;) {
      if (a[k] != m_[k]) return a[k] < m_[k];
    }
    return false;
  }
  void SubtractModulus(Limb* a) const {
    Limb borrow = 0;
    for (unsigned k = 0; k < N; ++k) {
      const Wide t = static_cast<Wide>(a[k]) - m_[k] - borrow;
      a[k] = static_cast<Limb>(t);
      borrow = static_cast<Limb>(t >> 127);
    }
  }
  // out = t R^-1 mod m for t below m R (2 N limbs, overwritten).
  void Reduce(Limb* out, Limb* t) const {
    Limb top = 0;
    for (unsigned i = 0; i < N; ++i) {
      const Limb q = t[i] * n0_;
      Wide c = 0;
      for (unsigned j = 0; j < N; ++j) {
        c += static_cast<Wide>(q) * m_[j] + t[i + j];
        t[i + j] = static_cast<Limb>(c);
        c >>= 64;
      }
      const Wide s = static_cast<Wide>(t[i + N]) + static_cast<Limb>(c) + top;
      t[i + N] = static_cast<Limb>(s);
      top = static_cast<Limb>(s >> 64);
    }
    std::copy_n(t + N, N, out);
    if (top || !Below(out)) SubtractModulus(out);
  }

  std::array<Limb, N> m_{};
  std::array<Limb, N> one_{};
  Limb n0_ = 0;
};

// Clears the stack below the caller, where the products of the last multiplications lay.
[[gnu::noinline]] void WipeStack() {
  uint8_t area[2048];
  Wipe(area, sizeof area);
}

bool Bit(const Digit* e, unsigned i) {
  return (e[i / kDigitBits] >> (i % kDigitBits)) & 1;
}

// The window width for an exponent of that many bits.
unsigned WindowBits(unsigned bits) {
  return bits > 671 ? 6 : bits > 239 ? 5 : bits > 79 ? 4 : bits > 23 ? 3 : 1;
}

template <unsigned N>
void ModExpN(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
             unsigned dDigits) {
  const Form<N> form(d, dDigits);
  const unsigned bits = BitLength(c, cDigits);
  const unsigned w = WindowBits(bits);
  // The odd powers b, b^3, ... b^(2^w - 1) in the form.
  Limb table[32][N];
  Limb x[N], square[N];
  form.Enter(table[0], b, d, dDigits);
  form.Sqr(square, table[0]);
  for (unsigned k = 1; k < (1u << (w - 1)); ++k) form.Mul(table[k], table[k - 1], square);
  bool started = false;
  for (int i = static_cast<int>(bits) - 1; i >= 0;) {
    if (!Bit(c, static_cast<unsigned>(i))) {
      form.Sqr(x, x);
      --i;
      continue;
    }
    // The longest window of at most w bits from bit i that ends in a set bit.
    int j = std::max(i - static_cast<int>(w) + 1, 0);
    while (!Bit(c, static_cast<unsigned>(j))) ++j;
    unsigned value = 0;
    for (int k = i; k >= j; --k) value = value << 1 | Bit(c, static_cast<unsigned>(k));
    if (started) {
      for (int k = i; k >= j; --k) form.Sqr(x, x);
      form.Mul(x, x, table[value >> 1]);
    } else {
      std::copy_n(table[value >> 1], N, x);
      started = true;
    }
    i = j - 1;
  }
  form.Leave(x, x);
  AssignZero(a, dDigits);
  Form<N>::FromLimbs(a, std::min(dDigits, 2 * N), x);
  Wipe(table, sizeof table);
  Wipe(x, sizeof x);
  Wipe(square, sizeof square);
  WipeStack();
}

template <unsigned N>
bool FermatN(const Digit* a, unsigned digits) {
  const Form<N> form(a, digits);
  Limb two[N], x[N];
  form.Double(two, form.one());
  std::copy_n(two, N, x);
  // 2^a by squaring, and doubling for each set bit: no multiplications.
  for (unsigned i = BitLength(a, digits) - 1; i-- > 0;) {
    form.Sqr(x, x);
    if (Bit(a, i)) form.Double(x, x);
  }
  return std::equal(x, x + N, two);
}

template <unsigned... Ns>
void DispatchModExp(std::integer_sequence<unsigned, Ns...>, unsigned limbs, Digit* a,
                    const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                    unsigned dDigits) {
  ((limbs == Ns + 1 ? ModExpN<Ns + 1>(a, b, c, cDigits, d, dDigits) : void()), ...);
}

template <unsigned... Ns>
bool DispatchFermat(std::integer_sequence<unsigned, Ns...>, unsigned limbs, const Digit* a,
                    unsigned digits) {
  bool result = false;
  ((limbs == Ns + 1 ? (result = FermatN<Ns + 1>(a, digits), void()) : void()), ...);
  return result;
}

}  // namespace

void MontgomeryModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                      unsigned dDigits) {
  const unsigned limbs = (Digits(d, dDigits) + 1) / 2;
  DispatchModExp(std::make_integer_sequence<unsigned, kMaxLimbs>(), limbs, a, b, c, cDigits, d,
                 dDigits);
}

bool MontgomeryFermat(const Digit* a, unsigned digits) {
  const unsigned limbs = (Digits(a, digits) + 1) / 2;
  return DispatchFermat(std::make_integer_sequence<unsigned, kMaxLimbs>(), limbs, a, digits);
}

}  // namespace remcons::mp
