// Runs a multi-user fuzz target over its seed corpus, then over generated inputs made of the
// link's commands (ADH infos of every length, responses, logins, control requests, console
// packets, syncs) cut short or not, among random bytes, so that the handlers are reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int corpus = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argc > 2 ? argv[2] : ".")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(input.data(), input.size());
    ++corpus;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  std::mt19937 rng(4242);
  const std::vector<std::vector<uint8_t>> heads = {{0xFF, 0xC8, 64},
                                                   {0xFF, 0xC8, 0},
                                                   {0xFF, 0xC8, 200},
                                                   {0xFF, 0xC9},
                                                   {0xFF, 0xCA},
                                                   {0xFF, 0xCB},
                                                   {0xFF, 0xCC},
                                                   {0xFF, 0xCD},
                                                   {0xFF, 0xCE},
                                                   {0xFF, 0xD6},
                                                   {0xFF, 0xD0},
                                                   {0x1B, 0x5B},
                                                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}};
  const size_t tails[] = {0, 1, 8, 30, 64, 192, 1100};
  for (int run = 0; run < runs; ++run) {
    std::vector<uint8_t> input{static_cast<uint8_t>(run)};
    // A quarter of the agreed links log in first, so that what follows reaches an accepted client.
    if (run % 4 == 1) input.insert(input.end(), {0xFF, 0xCA, 'f', 'u', 'z', 'z', '\r', 0});
    for (int piece = 1 + static_cast<int>(rng() % 6); piece > 0; --piece) {
      const auto& head = heads[rng() % heads.size()];
      input.insert(input.end(), head.begin(), head.end());
      for (size_t n = tails[rng() % std::size(tails)]; n > 0; --n) {
        input.push_back(static_cast<uint8_t>(rng() % 3 ? rng() : 0));
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d corpus inputs, %d generated\n", corpus, runs);
  return 0;
}
