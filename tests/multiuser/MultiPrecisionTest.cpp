// The arithmetic against OpenSSL's BN on random operands of 1 to 33 digits (with runs of all-ones
// and lone top bits, which carry across digit boundaries), the random pool against MD5, and the
// prime search (its small-factor and Fermat tests) against the same search done in BN from the
// same pool bytes.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <random>
#include <vector>

#include "multiuser/DHAgreement.h"
#include "multiuser/LinkRig.h"
#include "net/Oracle.h"

namespace remcons {
namespace {

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

// The prime search in BN: its start, alignment, step and tests, from bytes.
Bn SearchInBn(const uint8_t* bytes, int bits, const BIGNUM* step, BN_CTX* x) {
  Bn a = NewBn(bytes, 64), low = NewBn(), high = NewBn(), t = NewBn(), two = NewBn();
  BN_set_bit(low.get(), bits - 1);
  BN_lshift1(high.get(), low.get());
  BN_sub_word(high.get(), 1);
  BN_sub(t.get(), high.get(), low.get());
  BN_add_word(t.get(), 1);
  BN_mod(a.get(), a.get(), t.get(), x);
  BN_add(a.get(), a.get(), low.get());
  BN_mod(t.get(), a.get(), step, x);
  BN_sub(a.get(), a.get(), t.get());
  BN_add_word(a.get(), 1);
  if (BN_cmp(a.get(), low.get()) < 0) BN_add(a.get(), a.get(), step);
  if (BN_cmp(a.get(), high.get()) > 0) BN_sub(a.get(), a.get(), step);
  BN_set_word(two.get(), 2);
  for (;;) {
    bool small = false;
    for (BN_ULONG p : {3, 5, 7, 11})
      small |= BN_mod_word(a.get(), p) == 0 && !BN_is_word(a.get(), p);
    BN_mod_exp(t.get(), two.get(), a.get(), a.get(), x);
    if (!small && BN_is_word(t.get(), 2)) return a;
    BN_add(a.get(), a.get(), step);
  }
}

TEST(DHGroup, TheSameSeedGivesTheGroupTheSearchInBnFindsAndBothEndsAgree) {
  Ctx ctx(BN_CTX_new(), BN_CTX_free);
  for (uint8_t seed : {1, 2, 3}) {
    SCOPED_TRACE(static_cast<int>(seed));
    RandomPool pool, replay;
    testing::SeedPool(pool, seed);
    testing::SeedPool(replay, seed);
    CDHAgreement joiner(pool), leader(pool);
    joiner.SetSize(512);
    ASSERT_EQ(joiner.MakeGroupAndKeys(), 0);
    // The same bytes through BN: q (102 bits, steps of 2) from 64 bytes, p (steps of 2q) from the
    // next 64, g = 2^(p div q) mod p.
    uint8_t bytes[64];
    Bn step = NewBn(), g = NewBn(), e = NewBn();
    BN_set_word(step.get(), 2);
    ASSERT_EQ(replay.Generate(bytes, 64), 0);
    Bn q = SearchInBn(bytes, 102, step.get(), ctx.get());
    BN_lshift1(step.get(), q.get());
    ASSERT_EQ(replay.Generate(bytes, 64), 0);
    Bn p = SearchInBn(bytes, 512, step.get(), ctx.get());
    BN_div(e.get(), nullptr, p.get(), q.get(), ctx.get());
    BN_set_word(g.get(), 2);
    BN_mod_exp(g.get(), g.get(), e.get(), p.get(), ctx.get());
    uint8_t prime[64], generator[64], y[64], kJoiner[64], kLeader[64];
    joiner.GetPrime(prime);
    joiner.GetGenerator(generator);
    EXPECT_EQ(BN_cmp(NewBn(prime, 64).get(), p.get()), 0);
    EXPECT_EQ(BN_cmp(NewBn(generator, 64).get(), g.get()), 0);
    EXPECT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);

    joiner.GetPublicValue(y);
    leader.SetSize(512);
    ASSERT_EQ(leader.TakeGroupAndPeerValue(prime, generator, y), 0);
    leader.GetPublicValue(y);
    joiner.SetPeerValue(y);
    ASSERT_EQ(joiner.ComputeAgreedKey(), 0);
    ASSERT_EQ(leader.ComputeAgreedKey(), 0);
    joiner.GetAgreedKey(kJoiner);
    leader.GetAgreedKey(kLeader);
    EXPECT_EQ(std::vector<uint8_t>(kJoiner, kJoiner + 64),
              std::vector<uint8_t>(kLeader, kLeader + 64));
    // The peer's value equal to p is refused.
    joiner.SetPeerValue(prime);
    EXPECT_EQ(joiner.ComputeAgreedKey(), mp::kErrorData);
  }
}

}  // namespace
}  // namespace remcons
