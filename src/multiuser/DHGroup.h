// Probable primes and the Diffie-Hellman group, key pair and agreed secret of the multi-user link.
// Numbers travel as big-endian byte strings; inside they are digit arrays of MultiPrecision.
#pragma once

#include <cstddef>
#include <cstdint>

#include "multiuser/MultiPrecision.h"
#include "multiuser/RandomPool.h"

namespace remcons {

// A prime p and a generator g, each as many bytes as the prime's size needs.
struct DHGroup {
  static constexpr size_t kMaxBytes = mp::kMaxDigits * 4;
  uint8_t prime[kMaxBytes] = {};
  size_t primeLen = 0;
  uint8_t generator[kMaxBytes] = {};
  size_t generatorLen = 0;
};

namespace mp {

// True when a is divisible by 3, 5, 7 or 11 and is not that prime itself.
bool HasSmallFactor(const Digit* a, unsigned digits);
// True when 2^a mod a = 2.
bool FermatTest(const Digit* a, unsigned digits);
// A probable prime a with low <= a <= high and a = 1 modulo step, searched from a random point in
// steps of step: 0, kErrorData once the search passes high - step, kErrorNeedRandom when the pool
// is not seeded. The same pool bytes always give the same prime.
int GeneratePrime(Digit* a, const Digit* low, const Digit* high, const Digit* step, unsigned digits,
                  RandomPool& pool);

}  // namespace mp

// A subprime q of subBits bits (steps of 2), then a prime p of primeBits bits with p - 1 a
// multiple of 2q (steps of 2q), and g = 2^(p div q) mod p; p and g in (primeBits + 7) / 8 bytes.
// primeBits at most 32 * kMaxDigits.
int GenerateDHGroup(DHGroup* group, unsigned primeBits, unsigned subBits, RandomPool& pool);
// privateLen random bytes as the private value x; publicValue = g^x mod p in primeLen bytes.
int MakeDHKeyPair(uint8_t* publicValue, uint8_t* privateValue, size_t privateLen,
                  const DHGroup& group, RandomPool& pool);
// secret = peerPublic^x mod p in primeLen bytes; kErrorData when peerPublic is not below p.
int ComputeDHSecret(uint8_t* secret, const uint8_t* peerPublic, const uint8_t* privateValue,
                    size_t privateLen, const DHGroup& group);

}  // namespace remcons
