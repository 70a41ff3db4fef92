// Fuzz target: what a hostile session leader sends to a joining console during its handshake. The
// joiner sends its ADH info (to no socket), then takes the input byte by byte as the leader's
// reply: the response, the refusals, the sync. It must end with a result or with failed(), never
// touching memory it does not own.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/MUNetFuzz.cpp
//     src/multiuser/*.cpp src/net/*.cpp src/platform/*.cpp -lz -o mu_net_fuzz
// The tests run the same entry point over the seed corpus and mutations of it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "multiuser/MUNet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  static RandomPool pool;
  // One group for every input: the prime search would take nearly all of the time, and the leader's
  // reply is parsed the same in any group.
  static const DHGroup group = [] {
    const std::vector<uint8_t> seed(RandomPool::kSeedBytesNeeded, 11);
    pool.Update(seed.data(), seed.size());
    DHGroup made;
    GenerateDHGroup(&made, CMUNet::kBits, CMUNet::kBits / 5, pool);
    return made;
  }();
  CMUNet joiner(pool, 1);
  if (!joiner.SendAdhInfo(&group)) return 0;
  for (size_t i = 0; i < size; ++i) {
    if (joiner.OnHandshakeByte(data[i]) != 0 || joiner.failed()) break;
  }
  return 0;
}
