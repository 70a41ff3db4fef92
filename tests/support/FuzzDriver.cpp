// Runs a fuzz target over deterministic inputs. DRIVER [RUNS] [CORPUS_DIR]: with a corpus, its
// seeds and mutations of them (bytes changed or set to boundary values, cut off, repeated,
// inserted), so that a file format's checks of lengths and offsets are reached; without, random
// bytes and streams made of well-formed command blocks with random fields, so that the handlers
// are reached.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int MutateSeeds(int runs, const char* folder, std::mt19937& rng) {
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(seeds.back().data(), seeds.back().size());
  }
  if (seeds.empty()) return 1;
  static const uint8_t kValues[] = {0, 1, 0x7F, 0x80, 0xFF, 0x10, 0x20, 0x58};
  for (int run = 0; run < runs; ++run) {
    std::vector<uint8_t> in = seeds[rng() % seeds.size()];
    for (int m = 1 + static_cast<int>(rng() % 6); m > 0 && !in.empty(); --m) {
      const size_t at = rng() % in.size(), n = std::min<size_t>(rng() % 64, in.size() - at);
      switch (rng() % 5) {
        case 0:
          in[at] = static_cast<uint8_t>(rng());
          break;
        case 1:
          in[at] = kValues[rng() % sizeof kValues];
          break;
        case 2:
          in.resize(at);
          break;
        case 3: {
          const std::vector<uint8_t> part(in.begin() + static_cast<long>(at),
                                          in.begin() + static_cast<long>(at + n));
          in.insert(in.end(), part.begin(), part.end());
          break;
        }
        default:
          in.insert(in.begin() + static_cast<long>(at), n, kValues[rng() % sizeof kValues]);
          break;
      }
    }
    LLVMFuzzerTestOneInput(in.data(), in.size());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 500;
  std::mt19937 rng(12345);
  if (argc > 2) return MutateSeeds(runs, argv[2], rng);
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
  return 0;
}
