// Our MD5 against OpenSSL's on the sizes that matter: gesture names (32 bytes), a small file
// (1 KiB) and a large one (1 MiB).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "convert/Md5.h"

#ifdef SKM_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

std::vector<uint8_t> input(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 2463534242u;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return bytes;
}

void BM_Md5Ours(benchmark::State& state) {
  auto bytes = input(size_t(state.range(0)));
  for (auto _ : state) {
    skm::Md5Context context;
    context.init();
    context.update(bytes.data(), uint32_t(bytes.size()));
    context.final();
    benchmark::DoNotOptimize(context.digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5Ours)->Arg(32)->Arg(1024)->Arg(1 << 20);

void BM_GestureId(benchmark::State& state) {
  const char* name = "A gesture name of thirty-two ch.";
  for (auto _ : state) benchmark::DoNotOptimize(skm::makeGestureId(name));
}
BENCHMARK(BM_GestureId);

#ifdef SKM_HAVE_OPENSSL
void BM_Md5OpenSsl(benchmark::State& state) {
  auto bytes = input(size_t(state.range(0)));
  unsigned char digest[16];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5OpenSsl)->Arg(32)->Arg(1024)->Arg(1 << 20);
#endif

}  // namespace

BENCHMARK_MAIN();
