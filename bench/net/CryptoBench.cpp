// MD5 and RC4 throughput of our code beside OpenSSL's libcrypto, at three block sizes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <vector>

#include "net/Md5.h"
#include "net/Net.h"

namespace remcons {
namespace {

std::vector<uint8_t> Data(size_t n) {
  std::vector<uint8_t> data(n);
  for (size_t k = 0; k < n; ++k) data[k] = static_cast<uint8_t>(k * 131 + 7);
  return data;
}

void BM_Md5_Ours(benchmark::State& state) {
  const auto data = Data(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Md5::Digest d = Md5::Hash(data.data(), data.size());
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Md5_OpenSSL(benchmark::State& state) {
  const auto data = Data(static_cast<size_t>(state.range(0)));
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  unsigned char out[16];
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data.data(), data.size());
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, out, &len);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_free(md);
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Rc4_Ours(benchmark::State& state) {
  auto data = Data(static_cast<size_t>(state.range(0)));
  uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  RC4Stream stream(key);
  for (auto _ : state) {
    stream.Apply(data.data(), data.size());
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Rc4_OpenSSL(benchmark::State& state) {
  auto data = Data(static_cast<size_t>(state.range(0)));
  if (!OSSL_PROVIDER_load(nullptr, "legacy")) {
    state.SkipWithError("OpenSSL legacy provider not available");
    return;
  }
  OSSL_PROVIDER_load(nullptr, "default");
  uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, rc4, nullptr, key, nullptr);
  for (auto _ : state) {
    int outLen = 0;
    EVP_EncryptUpdate(ctx, data.data(), &outLen, data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(data.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(rc4);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Md5_Ours)->Arg(16)->Arg(1024)->Arg(8192);
BENCHMARK(BM_Md5_OpenSSL)->Arg(16)->Arg(1024)->Arg(8192);
BENCHMARK(BM_Rc4_Ours)->Arg(16)->Arg(1024)->Arg(8192);
BENCHMARK(BM_Rc4_OpenSSL)->Arg(16)->Arg(1024)->Arg(8192);

}  // namespace
}  // namespace remcons

BENCHMARK_MAIN();
