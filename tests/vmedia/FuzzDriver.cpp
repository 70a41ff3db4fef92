// Runs a fuzz target over deterministic generated inputs: random bytes, and streams made of
// well-formed command blocks with random fields, so that the handlers are reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 500;
  std::mt19937 rng(12345);
  static const uint8_t kOps[] = {0x00, 0x04, 0x1B, 0x1D, 0x1E, 0x23, 0x25, 0x28, 0x2A,
                                 0x2E, 0x43, 0x4A, 0x5A, 0xA8, 0xAA, 0xFE, 0x12, 0xFF};
  for (int run = 0; run < runs; ++run) {
    std::vector<uint8_t> input;
    input.push_back(uint8_t(run));
    if (run % 4 == 0) {
      const size_t n = rng() % 600;
      for (size_t i = 0; i < n; ++i) input.push_back(uint8_t(rng()));
    } else {
      const int requests = 1 + int(rng() % 12);
      for (int r = 0; r < requests; ++r) {
        uint8_t cdb[12];
        for (auto& b : cdb) b = uint8_t(rng());
        cdb[0] = kOps[rng() % sizeof kOps];
        // Mostly small addresses and lengths, sometimes anything.
        if (rng() % 3) {
          cdb[2] = cdb[3] = cdb[4] = 0;
          cdb[5] = uint8_t(rng() % 160);
          cdb[6] = 0;
          cdb[7] = uint8_t(rng() % 2);
          cdb[8] = uint8_t(rng());
          cdb[9] = uint8_t(rng() % 4);
        }
        input.insert(input.end(), cdb, cdb + 12);
        const size_t extra = rng() % 4 == 0 ? rng() % 1500 : 0;  // write data, or garbage
        for (size_t i = 0; i < extra; ++i) input.push_back(uint8_t(rng()));
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d inputs\n", runs);
  return 0;
}
