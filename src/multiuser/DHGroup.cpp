#include "multiuser/DHGroup.h"

#include <vector>

#include "multiuser/Montgomery.h"

namespace remcons {
namespace mp {
namespace {

constexpr Digit kSmallPrimes[] = {3, 5, 7, 11};

// Odd primes from 13 up to kSieveLimit with the multiplicative order of 2 modulo each. A candidate
// a with such a prime r as a factor can pass the Fermat test only if 2^(a - 1) = 1 modulo r, that
// is when the order divides a - 1; every other one fails it, so the search can skip its
// exponentiation and still accept exactly the numbers the test would.
constexpr Digit kSieveLimit = 4096;

struct SievePrime {
  Digit prime;
  Digit order;
};

const std::vector<SievePrime>& SievePrimes() {
  static const std::vector<SievePrime> primes = [] {
    std::vector<SievePrime> out;
    std::vector<bool> composite(kSieveLimit, false);
    for (Digit n = 2; n < kSieveLimit; ++n) {
      if (composite[n]) continue;
      for (Digit k = n * n; k < kSieveLimit; k += n) composite[k] = true;
      if (n < 13) continue;
      Digit order = 1;
      for (Digit power = 2; power != 1; power = power * 2 % n) ++order;
      out.push_back({n, order});
    }
    return out;
  }();
  return primes;
}

// The residues of the running candidate modulo the sieve primes, stepped with it.
class Sieve {
 public:
  Sieve(const Digit* a, const Digit* step, unsigned digits) : primes_(SievePrimes()) {
    residues_.reserve(primes_.size());
    steps_.reserve(primes_.size());
    for (const SievePrime& p : primes_) {
      residues_.push_back(ModDigit(a, digits, p.prime));
      steps_.push_back(ModDigit(step, digits, p.prime));
    }
  }
  void Step() {
    for (size_t i = 0; i < residues_.size(); ++i) {
      Digit r = residues_[i] + steps_[i];
      if (r >= primes_[i].prime) r -= primes_[i].prime;
      residues_[i] = r;
    }
  }
  // False only when the Fermat test is sure to fail for a.
  bool MayPass(const Digit* a, unsigned digits) const {
    for (size_t i = 0; i < residues_.size(); ++i) {
      if (residues_[i] != 0) continue;
      if (ModDigit(a, digits, primes_[i].order) != 1 % primes_[i].order) return false;
    }
    return true;
  }

 private:
  const std::vector<SievePrime>& primes_;
  std::vector<Digit> residues_;
  std::vector<Digit> steps_;
};

}  // namespace

bool HasSmallFactor(const Digit* a, unsigned digits) {
  for (Digit p : kSmallPrimes) {
    if (Digits(a, digits) == 1 && a[0] == p) return false;
    if (ModDigit(a, digits, p) == 0) return true;
  }
  return false;
}

bool FermatTest(const Digit* a, unsigned digits) {
  digits = Digits(a, digits);
  if (digits == 0 || (digits == 1 && a[0] == 1)) return false;
  if (a[0] & 1) return MontgomeryFermat(a, digits);
  Digit two[kMaxDigits] = {2}, result[kMaxDigits];
  ModExp(result, two, a, digits, a, digits);
  return Digits(result, digits) == 1 && result[0] == 2;
}

int GeneratePrime(Digit* a, const Digit* low, const Digit* high, const Digit* step, unsigned digits,
                  RandomPool& pool) {
  if (digits == 0 || digits > kMaxDigits) return kErrorData;
  uint8_t bytes[4 * kMaxDigits];
  if (const int status = pool.Generate(bytes, 4 * digits); status != 0) return status;
  Digit t[kMaxDigits], u[kMaxDigits], one[kMaxDigits] = {1};
  Decode(t, digits, bytes, 4 * digits);
  Wipe(bytes, sizeof bytes);
  // A random start in [low, high], one more than a multiple of step, kept within the range.
  Sub(u, high, low, digits);
  Add(u, u, one, digits);
  Mod(t, t, digits, u, digits);
  Add(a, low, t, digits);
  Mod(t, a, digits, step, digits);
  Sub(a, a, t, digits);
  Add(a, a, one, digits);
  if (Cmp(a, low, digits) < 0) Add(a, a, step, digits);
  if (Cmp(a, high, digits) > 0) Sub(a, a, step, digits);
  // Up the range in steps until a number passes the tests.
  Sub(t, high, step, digits);
  Sieve sieve(a, step, digits);
  for (;;) {
    if (!HasSmallFactor(a, digits) && sieve.MayPass(a, digits) && FermatTest(a, digits)) return 0;
    if (Cmp(a, t, digits) > 0) return kErrorData;
    Add(a, a, step, digits);
    sieve.Step();
  }
}

}  // namespace mp

namespace {

using mp::Digit;
using mp::kMaxDigits;

// p and g of a group as digits, g reduced modulo p; the significant digits of p.
unsigned ReadGroup(const DHGroup& group, Digit* p, Digit* g) {
  mp::Decode(p, kMaxDigits, group.prime, group.primeLen);
  mp::Decode(g, kMaxDigits, group.generator, group.generatorLen);
  const unsigned pDigits = mp::Digits(p, kMaxDigits);
  if (pDigits > 0) mp::Mod(g, g, kMaxDigits, p, pDigits);
  return pDigits;
}

}  // namespace

int GenerateDHGroup(DHGroup* group, unsigned primeBits, unsigned subBits, RandomPool& pool) {
  if (primeBits < 2 || subBits < 2 || primeBits > 32 * kMaxDigits || subBits >= primeBits) {
    return mp::kErrorData;
  }
  const unsigned digits = (primeBits + 31) / 32;
  Digit q[kMaxDigits], p[kMaxDigits], g[kMaxDigits] = {2}, t[kMaxDigits], u[kMaxDigits],
                                      v[kMaxDigits], one[kMaxDigits] = {1};
  // q between 2^(subBits - 1) and 2^subBits - 1, in steps of 2.
  mp::Assign2Exp(t, subBits - 1, digits);
  mp::Sub(v, t, one, digits);
  mp::Add(u, t, v, digits);
  mp::AssignZero(v, digits);
  v[0] = 2;
  if (const int status = mp::GeneratePrime(q, t, u, v, digits, pool); status != 0) return status;
  // p between 2^(primeBits - 1) and 2^primeBits - 1, in steps of 2q.
  mp::Assign2Exp(t, primeBits - 1, digits);
  mp::Sub(v, t, one, digits);
  mp::Add(u, t, v, digits);
  mp::LShift(v, q, 1, digits);
  if (const int status = mp::GeneratePrime(p, t, u, v, digits, pool); status != 0) return status;
  // g = 2^(p div q) mod p.
  mp::Div(t, u, p, digits, q, digits);
  mp::ModExp(g, g, t, digits, p, digits);
  group->primeLen = group->generatorLen = (primeBits + 7) / 8;
  mp::Encode(group->prime, group->primeLen, p, digits);
  mp::Encode(group->generator, group->generatorLen, g, digits);
  return 0;
}

int MakeDHKeyPair(uint8_t* publicValue, uint8_t* privateValue, size_t privateLen,
                  const DHGroup& group, RandomPool& pool) {
  if (privateLen > 4 * kMaxDigits || group.primeLen > DHGroup::kMaxBytes) return mp::kErrorData;
  if (const int status = pool.Generate(privateValue, privateLen); status != 0) return status;
  Digit p[kMaxDigits], g[kMaxDigits], x[kMaxDigits], y[kMaxDigits];
  const unsigned pDigits = ReadGroup(group, p, g);
  mp::Decode(x, kMaxDigits, privateValue, privateLen);
  mp::ModExp(y, g, x, mp::Digits(x, kMaxDigits), p, pDigits);
  mp::Encode(publicValue, group.primeLen, y, pDigits);
  mp::Wipe(x, sizeof x);
  return 0;
}

int ComputeDHSecret(uint8_t* secret, const uint8_t* peerPublic, const uint8_t* privateValue,
                    size_t privateLen, const DHGroup& group) {
  if (privateLen > 4 * kMaxDigits || group.primeLen > DHGroup::kMaxBytes) return mp::kErrorData;
  Digit p[kMaxDigits], g[kMaxDigits], y[kMaxDigits], x[kMaxDigits], z[kMaxDigits];
  const unsigned pDigits = ReadGroup(group, p, g);
  mp::Decode(y, kMaxDigits, peerPublic, group.primeLen);
  if (mp::Cmp(y, p, kMaxDigits) >= 0) return mp::kErrorData;
  mp::Decode(x, kMaxDigits, privateValue, privateLen);
  mp::ModExp(z, y, x, mp::Digits(x, kMaxDigits), p, pDigits);
  mp::Encode(secret, group.primeLen, z, pDigits);
  mp::Wipe(x, sizeof x);
  mp::Wipe(z, sizeof z);
  return 0;
}

}  // namespace remcons
