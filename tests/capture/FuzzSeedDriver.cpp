// Runs a fuzz target over its seed corpus and deterministic mutations of the seeds: bytes
// changed, set to boundary values, cut off, repeated and inserted, so that the checks of every
// length and offset are reached. Usage: DRIVER RUNS CORPUS_DIR
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
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RUNS CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (seeds.empty()) return 1;
  for (const auto& seed : seeds) LLVMFuzzerTestOneInput(seed.data(), seed.size());
  std::mt19937 rng(20240610);
  static const uint8_t kValues[] = {0, 1, 0x7F, 0x80, 0xFF, 0x10, 0x20, 0x58, 0x01};
  for (int run = 0; run < runs; ++run) {
    std::vector<uint8_t> input = seeds[rng() % seeds.size()];
    const int mutations = 1 + static_cast<int>(rng() % 6);
    for (int m = 0; m < mutations && !input.empty(); ++m) {
      const size_t at = rng() % input.size();
      switch (rng() % 5) {
        case 0:
          input[at] = static_cast<uint8_t>(rng());
          break;
        case 1:
          input[at] = kValues[rng() % sizeof kValues];
          break;
        case 2:
          input.resize(at);
          break;
        case 3: {
          const size_t n = std::min<size_t>(rng() % 64, input.size() - at);
          std::vector<uint8_t> copy(input.begin() + static_cast<long>(at),
                                    input.begin() + static_cast<long>(at + n));
          input.insert(input.end(), copy.begin(), copy.end());
          break;
        }
        default:
          input.insert(input.begin() + static_cast<long>(at), rng() % 40, kValues[rng() % 9]);
          break;
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%zu seeds, %d mutations\n", seeds.size(), runs);
  return 0;
}
