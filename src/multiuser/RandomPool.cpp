#include "multiuser/RandomPool.h"

#include <sys/random.h>

#include <algorithm>
#include <ctime>

#include "multiuser/MultiPrecision.h"
#include "net/Md5.h"

namespace remcons {

RandomPool::~RandomPool() {
  mp::Wipe(state_.data(), state_.size());
  mp::Wipe(output_.data(), output_.size());
}

uint32_t RandomPool::BytesNeeded() const {
  std::lock_guard lock(mutex_);
  return bytesNeeded_;
}

void RandomPool::Update(const void* block, size_t length) {
  Md5::Digest digest = Md5::Hash(block, length);
  std::lock_guard lock(mutex_);
  unsigned sum = 0;
  for (size_t i = 16; i-- > 0;) {
    sum += static_cast<unsigned>(state_[i]) + digest[i];
    state_[i] = static_cast<uint8_t>(sum);
    sum >>= 8;
  }
  bytesNeeded_ = length >= bytesNeeded_ ? 0 : bytesNeeded_ - static_cast<uint32_t>(length);
  mp::Wipe(digest.data(), digest.size());
}

int RandomPool::Generate(uint8_t* out, size_t length) {
  std::lock_guard lock(mutex_);
  if (bytesNeeded_ > 0) return mp::kErrorNeedRandom;
  while (length > 0) {
    if (outputAvailable_ == 0) {
      Md5::Digest digest = Md5::Hash(state_.data(), state_.size());
      std::copy(digest.begin(), digest.end(), output_.begin());
      mp::Wipe(digest.data(), digest.size());
      outputAvailable_ = 16;
      for (size_t i = 16; i-- > 0;) {
        if (++state_[i] != 0) break;
      }
    }
    const size_t take = std::min<size_t>(length, outputAvailable_);
    std::copy_n(output_.data() + (16 - outputAvailable_), take, out);
    out += take;
    length -= take;
    outputAvailable_ -= static_cast<uint32_t>(take);
  }
  return 0;
}

void SeedConsolePool(RandomPool& pool, const uint8_t sendKey[16], const uint8_t receiveKey[16],
                     const uint8_t vmKeyField[32], Clock& clock) {
  pool.Update(sendKey, 16);
  pool.Update(receiveKey, 16);
  pool.Update(vmKeyField, 32);
  const uint64_t seconds = static_cast<uint64_t>(std::time(nullptr));
  pool.Update(&seconds, sizeof seconds);
  for (int i = 0; i < 100; ++i) {
    const uint64_t before = CycleCounter();
    clock.SleepMs(1);
    const uint32_t difference = static_cast<uint32_t>(CycleCounter() - before);
    pool.Update(&difference, sizeof difference);
  }
  // The system's own randomness too: the keys may be default ones and the counter coarse.
  uint8_t system[32] = {};
  if (getrandom(system, sizeof system, 0) == static_cast<ssize_t>(sizeof system)) {
    pool.Update(system, sizeof system);
  }
  mp::Wipe(system, sizeof system);
}

}  // namespace remcons
