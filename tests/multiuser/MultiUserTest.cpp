// The bit writer against bits worked out by hand, the arithmetic against OpenSSL's BN on random
// operands of 1 to 33 digits (with runs of all-ones and lone top bits, which carry across digit
// boundaries), the random pool against MD5, and the group the prime search makes against BN's
// prime test.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <random>
#include <vector>

#include "multiuser/BitWriter.h"
#include "multiuser/DHAgreement.h"
#include "multiuser/LinkRig.h"
#include "net/Oracle.h"

namespace remcons {
namespace {

// Lengths outside 1 to 16 append nothing; codes too wide are cut.
TEST(BitWriter, BadLengthsAndWideCodes) {
  BitWriter w;
  w.Put(0, 1);
  w.Put(17, 1);
  // 9 in 3 bits: the bits 0 0 1 go in, the first in the lowest bit of the byte.
  w.Put(3, 9);
  w.Put(5, 0);
  EXPECT_EQ(std::vector<uint8_t>(w.data(), w.data() + w.size()), std::vector<uint8_t>{0x04});
}

using mp::Digit;
using mp::kMaxDigits;
using Digits = std::vector<Digit>;
using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using Ctx = std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)>;

Bn NewBn(const uint8_t* bytes = nullptr, int size = 0) {
  return Bn(bytes ? BN_bin2bn(bytes, size, nullptr) : BN_new(), BN_free);
}

// The first digits of a, as BN sees them.
Bn ToBn(const Digits& a, unsigned digits) {
  std::vector<uint8_t> bytes(4 * digits + 1);
  mp::Encode(bytes.data(), bytes.size(), a.data(), digits);
  return NewBn(bytes.data(), static_cast<int>(bytes.size()));
}

// Digits that are random, all ones, or lone top bits, so carries cross digit boundaries.
Digits Operand(std::mt19937& rng, unsigned digits) {
  Digits a(2 * kMaxDigits, 0);
  const int style = rng() % 4;
  for (unsigned i = 0; i < digits; ++i)
    a[i] = style == 0 ? 0xFFFFFFFFu : style == 1 && i % 3 == 0 ? 0x80000000u : rng();
  if (a[digits - 1] == 0) a[digits - 1] = 1;
  return a;
}

TEST(MultiPrecision, ArithmeticMatchesBnFromOneTo33Digits) {
  std::mt19937 rng(7);
  Ctx ctx(BN_CTX_new(), BN_CTX_free);
  BN_CTX* x = ctx.get();
  // x^0 is 1, even modulo 7.
  const Digit five[1] = {5}, zero[1] = {0}, seven[1] = {7};
  Digit one[1] = {};
  mp::ModExp(one, five, zero, 1, seven, 1);
  EXPECT_EQ(one[0], 1u);
  for (unsigned n = 1; n <= kMaxDigits; ++n) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(::testing::Message() << n << " digits, round " << round);
      const unsigned dn = 1 + rng() % n;
      Digits b = Operand(rng, n), c = Operand(rng, n), d = Operand(rng, dn),
             e = Operand(rng, 1 + rng() % n), product(2 * kMaxDigits), q(2 * kMaxDigits),
             r(kMaxDigits), result(kMaxDigits);
      Bn want = NewBn(), rem = NewBn();
      auto same = [](const Digits& got, unsigned digits, const Bn& bn) {
        return BN_cmp(ToBn(got, digits).get(), bn.get()) == 0;
      };
      mp::Mult(product.data(), b.data(), c.data(), n);
      BN_mul(want.get(), ToBn(b, n).get(), ToBn(c, n).get(), x);
      EXPECT_TRUE(same(product, 2 * n, want)) << "Mult";
      // The double-length product over a divisor of any length, as the exponentiation divides.
      mp::Div(q.data(), r.data(), product.data(), 2 * n, d.data(), dn);
      BN_div(want.get(), rem.get(), ToBn(product, 2 * n).get(), ToBn(d, dn).get(), x);
      EXPECT_TRUE(same(q, 2 * n, want)) << "Div quotient";
      EXPECT_TRUE(same(r, dn, rem)) << "Div remainder";
      mp::Mod(r.data(), b.data(), n, d.data(), dn);
      BN_mod(want.get(), ToBn(b, n).get(), ToBn(d, dn).get(), x);
      EXPECT_TRUE(same(r, dn, want)) << "Mod";
      // Odd moduli take Montgomery's path, even ones the windowed one.
      for (bool odd : {true, false}) {
        d[0] = odd ? d[0] | 1 : d[0] & ~1u;
        if (mp::Digits(d.data(), dn) == 1 && d[0] < 2) d[0] = odd ? 3 : 2;
        mp::Mod(r.data(), b.data(), n, d.data(), dn);
        mp::ModExp(result.data(), r.data(), e.data(), n, d.data(), dn);
        BN_mod_exp(want.get(), ToBn(b, n).get(), ToBn(e, n).get(), ToBn(d, dn).get(), x);
        EXPECT_TRUE(same(result, dn, want)) << "ModExp, odd " << odd;
      }
    }
  }
}

TEST(RandomPool, RefusesUntilSeededThenGivesDigestsOfTheSteppedState) {
  RandomPool pool;
  uint8_t out[40] = {};
  const std::vector<uint8_t> seed(200, 0x5A);
  pool.Update(seed.data(), seed.size());
  EXPECT_EQ(pool.Generate(out, 1), mp::kErrorNeedRandom);
  pool.Update(seed.data(), 56);
  ASSERT_EQ(pool.Generate(out, sizeof out), 0);
  // The state is the sum of the blocks' digests; output blocks are MD5 of it, then of it + 1.
  const auto d1 = testing::OsslMd5(seed.data(), seed.size()),
             d2 = testing::OsslMd5(seed.data(), 56);
  uint8_t state[16];
  for (int i = 15, carry = 0; i >= 0; --i, carry >>= 8) {
    carry += d1[i] + d2[i];
    state[i] = static_cast<uint8_t>(carry);
  }
  std::vector<uint8_t> expected;
  for (int block = 0; block < 3; ++block) {
    const auto digest = testing::OsslMd5(state, 16);
    expected.insert(expected.end(), digest.begin(), digest.end());
    for (int i = 15; i >= 0 && ++state[i] == 0; --i) {
    }
  }
  expected.resize(40);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 40), expected);
}

// The group the joiner makes: a 512-bit prime (BN's test) and a generator of its subgroup (that
// two ends agree over it is the leader's tests'); a peer value equal to p is refused.
TEST(DHGroup, APrimeGroupAndThePeerValuePRefused) {
  Ctx ctx(BN_CTX_new(), BN_CTX_free);
  RandomPool pool;
  testing::SeedPool(pool, 3);
  CDHAgreement joiner(pool);
  joiner.SetSize(512);
  ASSERT_EQ(joiner.MakeGroupAndKeys(), 0);
  uint8_t prime[64], generator[64];
  joiner.GetPrime(prime);
  joiner.GetGenerator(generator);
  const Bn p = NewBn(prime, 64), g = NewBn(generator, 64), pMinus1 = NewBn();
  BN_sub(pMinus1.get(), p.get(), BN_value_one());
  EXPECT_EQ(BN_num_bits(p.get()), 512);
  EXPECT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);
  EXPECT_TRUE(BN_cmp(g.get(), BN_value_one()) > 0 && BN_cmp(g.get(), pMinus1.get()) < 0);
  joiner.SetPeerValue(prime);
  EXPECT_EQ(joiner.ComputeAgreedKey(), mp::kErrorData);
}

}  // namespace
}  // namespace remcons
