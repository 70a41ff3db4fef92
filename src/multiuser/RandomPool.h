// The random pool of the key agreement: seed blocks are folded into a 128-bit state through MD5,
// and output bytes are MD5 digests of the state, which steps by one after each digest. It gives
// nothing until 256 seed bytes have gone in. Safe from any thread (the leader's clients share it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace remcons {

class RandomPool {
 public:
  static constexpr uint32_t kSeedBytesNeeded = 256;

  RandomPool() = default;
  ~RandomPool();
  RandomPool(const RandomPool&) = delete;
  RandomPool& operator=(const RandomPool&) = delete;

  // Adds the block's MD5 digest to the state (big-endian, modulo 2^128).
  void Update(const void* block, size_t length);
  // length bytes out: 0, or mp::kErrorNeedRandom while seed bytes are still needed (out is then
  // left as it was).
  int Generate(uint8_t* out, size_t length);
  uint32_t BytesNeeded() const;

 private:
  mutable std::mutex mutex_;
  uint32_t bytesNeeded_ = kSeedBytesNeeded;
  std::array<uint8_t, 16> state_{};
  uint32_t outputAvailable_ = 0;
  std::array<uint8_t, 16> output_{};
};

// The console's seeding, once when its window is made: the console connection's send and receive
// keys, the 32-byte virtual media key field, the time in seconds, then a hundred cycle-counter
// differences around 1 ms sleeps of clock, and 32 bytes of the system's own randomness.
void SeedConsolePool(RandomPool& pool, const uint8_t sendKey[16], const uint8_t receiveKey[16],
                     const uint8_t vmKeyField[32], Clock& clock);

}  // namespace remcons
