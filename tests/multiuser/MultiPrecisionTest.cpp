// The arithmetic against OpenSSL's BN on random operands of 1 to 33 digits (with runs of all-ones
// and lone top bits, which carry across digit boundaries), the prime search against the same
// search done in BN from the same pool bytes, and the key agreement against BN's exponentiation.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <random>
#include <vector>

#include "multiuser/DHAgreement.h"
#include "multiuser/DHGroup.h"
#include "multiuser/MultiPrecision.h"
#include "net/Oracle.h"

namespace remcons {
namespace {

using mp::Digit;
using mp::kMaxDigits;
using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using Ctx = std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)>;

Bn ToBn(const Digit* a, unsigned digits) {
  std::vector<uint8_t> bytes(4 * digits + 1);
  mp::Encode(bytes.data(), bytes.size(), a, digits);
  return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr), BN_free);
}

std::vector<Digit> FromBn(const BIGNUM* b, unsigned digits) {
  std::vector<uint8_t> bytes(4 * digits);
  EXPECT_GE(BN_bn2binpad(b, bytes.data(), static_cast<int>(bytes.size())), 0);
  std::vector<Digit> a(digits);
  mp::Decode(a.data(), digits, bytes.data(), bytes.size());
  return a;
}

// Digits that are random, all ones, zero or a lone top bit, so carries cross digit boundaries.
std::vector<Digit> Operand(std::mt19937& rng, unsigned digits, unsigned size) {
  std::vector<Digit> a(size, 0);
  const int style = rng() % 4;
  for (unsigned i = 0; i < digits; ++i) {
    a[i] = style == 0 ? 0xFFFFFFFFu : style == 1 && i % 3 == 0 ? 0x80000000u : rng();
  }
  if (digits > 0 && a[digits - 1] == 0) a[digits - 1] = 1;
  return a;
}

void Seed(RandomPool& pool, unsigned seed) {
  std::vector<uint8_t> seedBytes(RandomPool::kSeedBytesNeeded, static_cast<uint8_t>(seed));
  pool.Update(seedBytes.data(), seedBytes.size());
}

TEST(MultiPrecision, ArithmeticMatchesBnFromOneTo33Digits) {
  std::mt19937 rng(7);
  Ctx ctx(BN_CTX_new(), BN_CTX_free);
  for (unsigned digits = 1; digits <= kMaxDigits; ++digits) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(::testing::Message() << digits << " digits, round " << round);
      const unsigned dDigits = 1 + rng() % digits;
      auto b = Operand(rng, digits, kMaxDigits), c = Operand(rng, digits, kMaxDigits);
      auto d = Operand(rng, dDigits, kMaxDigits), e = Operand(rng, 1 + rng() % digits, kMaxDigits);
      Bn B = ToBn(b.data(), digits), C = ToBn(c.data(), digits), D = ToBn(d.data(), dDigits),
         E = ToBn(e.data(), digits), want(BN_new(), BN_free), rem(BN_new(), BN_free);

      std::vector<Digit> product(2 * kMaxDigits);
      mp::Mult(product.data(), b.data(), c.data(), digits);
      BN_mul(want.get(), B.get(), C.get(), ctx.get());
      EXPECT_EQ(std::vector<Digit>(product.begin(), product.begin() + 2 * digits),
                FromBn(want.get(), 2 * digits))
          << "Mult";

      // The double-length product over a divisor of any length, as the exponentiation divides.
      std::vector<Digit> q(2 * kMaxDigits), r(kMaxDigits);
      mp::Div(q.data(), r.data(), product.data(), 2 * digits, d.data(), dDigits);
      Bn P = ToBn(product.data(), 2 * digits);
      BN_div(want.get(), rem.get(), P.get(), D.get(), ctx.get());
      EXPECT_EQ(std::vector<Digit>(q.begin(), q.begin() + 2 * digits),
                FromBn(want.get(), 2 * digits))
          << "Div quotient";
      EXPECT_EQ(std::vector<Digit>(r.begin(), r.begin() + dDigits), FromBn(rem.get(), dDigits))
          << "Div remainder";
      mp::Mod(r.data(), b.data(), digits, d.data(), dDigits);
      BN_mod(want.get(), B.get(), D.get(), ctx.get());
      EXPECT_EQ(std::vector<Digit>(r.begin(), r.begin() + dDigits), FromBn(want.get(), dDigits))
          << "Mod";

      // Odd moduli take Montgomery's path, even ones the windowed one.
      for (bool odd : {true, false}) {
        d[0] = odd ? d[0] | 1 : d[0] & ~1u;
        if (mp::Digits(d.data(), dDigits) == 1 && d[0] < 2) d[0] = odd ? 3 : 2;
        D = ToBn(d.data(), dDigits);
        std::vector<Digit> base(kMaxDigits), result(kMaxDigits);
        mp::Mod(base.data(), b.data(), digits, d.data(), dDigits);
        mp::ModExp(result.data(), base.data(), e.data(), digits, d.data(), dDigits);
        BN_mod_exp(want.get(), B.get(), E.get(), D.get(), ctx.get());
        EXPECT_EQ(std::vector<Digit>(result.begin(), result.begin() + dDigits),
                  FromBn(want.get(), dDigits))
            << "ModExp, odd " << odd;
      }
    }
  }
}

TEST(MultiPrecision, ContractsAtTheirEdges) {
  Digit a[2] = {};
  const uint8_t twoFiftySix[2] = {0x01, 0x00};
  mp::Decode(a, 1, twoFiftySix, 2);
  EXPECT_EQ(a[0], 256u);
  uint8_t three[3];
  mp::Encode(three, 3, a, 1);
  EXPECT_EQ(std::vector<uint8_t>(three, three + 3), (std::vector<uint8_t>{0, 1, 0}));
  const Digit base[1] = {5}, zero[1] = {0}, modulus[1] = {7};
  mp::ModExp(a, base, zero, 1, modulus, 1);
  EXPECT_EQ(a[0], 1u);
  const Digit seven[1] = {7}, twentyOne[1] = {21};
  EXPECT_FALSE(mp::HasSmallFactor(seven, 1));
  EXPECT_TRUE(mp::HasSmallFactor(twentyOne, 1));
  // Carmichael's 561 passes Fermat's test; 563 is prime, 565 is not.
  const Digit n561[1] = {561}, n563[1] = {563}, n565[1] = {565};
  EXPECT_TRUE(mp::FermatTest(n561, 1));
  EXPECT_TRUE(mp::FermatTest(n563, 1));
  EXPECT_FALSE(mp::FermatTest(n565, 1));
}

TEST(RandomPool, RefusesUntilSeededThenGivesDigestsOfTheSteppedState) {
  RandomPool pool;
  uint8_t out[40] = {};
  std::vector<uint8_t> seed(200, 0x5A);
  pool.Update(seed.data(), seed.size());
  EXPECT_EQ(pool.Generate(out, 1), mp::kErrorNeedRandom);
  pool.Update(seed.data(), 56);
  ASSERT_EQ(pool.Generate(out, sizeof out), 0);
  // The state is the sum of the blocks' digests; output blocks are MD5 of it, then of it + 1.
  uint8_t state[16], expected[48];
  const auto d1 = testing::OsslMd5(seed.data(), seed.size());
  const auto d2 = testing::OsslMd5(seed.data(), 56);
  unsigned carry = 0;
  for (int i = 15; i >= 0; --i) {
    carry += d1[i] + d2[i];
    state[i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
  for (int block = 0; block < 3; ++block) {
    const auto digest = testing::OsslMd5(state, 16);
    std::copy(digest.begin(), digest.end(), expected + 16 * block);
    for (int i = 15; i >= 0 && ++state[i] == 0; --i) {
    }
  }
  EXPECT_EQ(std::vector<uint8_t>(out, out + 40), std::vector<uint8_t>(expected, expected + 40));
}

// The prime search as specified, in BN: start, alignment, step and tests, from the same bytes.
Bn SearchInBn(const uint8_t* bytes, unsigned digits, const BIGNUM* low, const BIGNUM* high,
              const BIGNUM* step, BN_CTX* ctx) {
  Bn a(BN_bin2bn(bytes, static_cast<int>(4 * digits), nullptr), BN_free);
  Bn t(BN_new(), BN_free), limit(BN_new(), BN_free), two(BN_new(), BN_free);
  BN_sub(t.get(), high, low);
  BN_add_word(t.get(), 1);
  BN_mod(a.get(), a.get(), t.get(), ctx);
  BN_add(a.get(), a.get(), low);
  BN_mod(t.get(), a.get(), step, ctx);
  BN_sub(a.get(), a.get(), t.get());
  BN_add_word(a.get(), 1);
  if (BN_cmp(a.get(), low) < 0) BN_add(a.get(), a.get(), step);
  if (BN_cmp(a.get(), high) > 0) BN_sub(a.get(), a.get(), step);
  BN_sub(limit.get(), high, step);
  BN_set_word(two.get(), 2);
  for (;;) {
    bool small = false;
    for (BN_ULONG p : {3, 5, 7, 11}) {
      small = small || (BN_mod_word(a.get(), p) == 0 && !BN_is_word(a.get(), p));
    }
    if (!small) {
      BN_mod_exp(t.get(), two.get(), a.get(), a.get(), ctx);
      if (BN_is_word(t.get(), 2)) return a;
    }
    EXPECT_LE(BN_cmp(a.get(), limit.get()), 0);
    BN_add(a.get(), a.get(), step);
  }
}

TEST(DHGroup, SameSeedSameGroupAsTheSearchInBnAndTheSecretAgrees) {
  Ctx ctx(BN_CTX_new(), BN_CTX_free);
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    RandomPool pool, replay;
    Seed(pool, seed);
    Seed(replay, seed);
    DHGroup group;
    ASSERT_EQ(GenerateDHGroup(&group, 512, 102, pool), 0);
    // The same bytes through BN: q from 64 bytes, p from the next 64.
    uint8_t bytes[64];
    Bn low(BN_new(), BN_free), high(BN_new(), BN_free), step(BN_new(), BN_free);
    BN_set_bit(low.get(), 101);
    BN_lshift1(high.get(), low.get());
    BN_sub_word(high.get(), 1);
    BN_set_word(step.get(), 2);
    ASSERT_EQ(replay.Generate(bytes, 64), 0);
    Bn q = SearchInBn(bytes, 16, low.get(), high.get(), step.get(), ctx.get());
    BN_zero(low.get());
    BN_set_bit(low.get(), 511);
    BN_lshift1(high.get(), low.get());
    BN_sub_word(high.get(), 1);
    BN_lshift1(step.get(), q.get());
    ASSERT_EQ(replay.Generate(bytes, 64), 0);
    Bn p = SearchInBn(bytes, 16, low.get(), high.get(), step.get(), ctx.get());
    Bn g(BN_new(), BN_free), e(BN_new(), BN_free), two(BN_new(), BN_free);
    BN_div(e.get(), nullptr, p.get(), q.get(), ctx.get());
    BN_set_word(two.get(), 2);
    BN_mod_exp(g.get(), two.get(), e.get(), p.get(), ctx.get());
    Bn gotP(BN_bin2bn(group.prime, 64, nullptr), BN_free);
    Bn gotG(BN_bin2bn(group.generator, 64, nullptr), BN_free);
    EXPECT_EQ(BN_cmp(gotP.get(), p.get()), 0);
    EXPECT_EQ(BN_cmp(gotG.get(), g.get()), 0);
    EXPECT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);

    // Both ends of a link agree, and on what BN computes from the private values.
    CDHAgreement joiner(pool), leader(pool);
    joiner.SetSize(512);
    ASSERT_EQ(joiner.MakeGroupAndKeys(), 0);
    uint8_t prime[64], generator[64], yJoiner[64], yLeader[64], kJoiner[64], kLeader[64];
    joiner.GetPrime(prime);
    joiner.GetGenerator(generator);
    joiner.GetPublicValue(yJoiner);
    leader.SetSize(512);
    ASSERT_EQ(leader.TakeGroupAndPeerValue(prime, generator, yJoiner), 0);
    leader.GetPublicValue(yLeader);
    joiner.SetPeerValue(yLeader);
    ASSERT_EQ(joiner.ComputeAgreedKey(), 0);
    ASSERT_EQ(leader.ComputeAgreedKey(), 0);
    joiner.GetAgreedKey(kJoiner);
    leader.GetAgreedKey(kLeader);
    EXPECT_EQ(std::vector<uint8_t>(kJoiner, kJoiner + 64),
              std::vector<uint8_t>(kLeader, kLeader + 64));
    // The peer's value equal to p, or outside [2, p - 2], is refused.
    joiner.SetPeerValue(prime);
    EXPECT_EQ(joiner.ComputeAgreedKey(), mp::kErrorData);
    uint8_t one[64] = {};
    one[63] = 1;
    CDHAgreement hostile(pool);
    hostile.SetSize(512);
    EXPECT_EQ(hostile.TakeGroupAndPeerValue(prime, generator, one), mp::kErrorData);
  }
}

}  // namespace
}  // namespace remcons
