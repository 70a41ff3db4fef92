// Runs a multi-user fuzz target over its seed corpus, then over generated inputs: random bytes,
// and byte strings built of the link's commands (ADH infos of every length, responses, logins,
// control requests, console packets, refusals, syncs), so that the handlers are reached.
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
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  int corpus = 0;
  if (argc > 2) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++corpus;
    }
  }
  std::mt19937 rng(4242);
  auto bytes = [&](std::vector<uint8_t>& out, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(rng()));
  };
  for (int run = 0; run < runs; ++run) {
    std::vector<uint8_t> input{static_cast<uint8_t>(run)};
    // Half the agreed links log in first, so that what follows reaches an accepted client.
    if (run % 4 == 1) input.insert(input.end(), {0xFF, 0xCA, 'f', 'u', 'z', 'z', '\r', 0});
    const int pieces = 1 + static_cast<int>(rng() % 6);
    for (int p = 0; p < pieces; ++p) {
      switch (rng() % 9) {
        case 0: {  // ADH info of some length, with values that may run short
          const uint8_t n = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 64);
          input.insert(input.end(), {0xFF, 0xC8, n});
          bytes(input, rng() % 2 ? 3u * n : rng() % 200);
          break;
        }
        case 1:  // the leader's response, or a short one
          input.insert(input.end(), {0xFF, 0xC9});
          bytes(input, rng() % 2 ? 64 : rng() % 80);
          break;
        case 2:  // a login, ended or not
          input.insert(input.end(), {0xFF, 0xCA});
          bytes(input, rng() % 4 == 0 ? 1100 : rng() % 30);
          if (rng() % 2) input.push_back(0);
          break;
        case 3:
          input.insert(input.end(), {0xFF, static_cast<uint8_t>(0xCB + rng() % 4)});
          break;
        case 4:  // a keyboard report or a mouse move, maybe cut short
          input.insert(input.end(), {0xFF, static_cast<uint8_t>(rng() % 2 ? 0xD6 : 0xD0)});
          bytes(input, rng() % 9);
          break;
        case 5:
          input.insert(input.end(), {0x1B, 0x5B, static_cast<uint8_t>(rng())});
          break;
        case 6:  // a sync
          input.insert(input.end(), 3 + rng() % 7, 0);
          input.push_back(0x80);
          break;
        default:
          bytes(input, rng() % 64);
          break;
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d corpus inputs, %d generated\n", corpus, runs);
  return 0;
}
