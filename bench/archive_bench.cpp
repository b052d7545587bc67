// Throughput of the archive's checks next to the floor they are judged against: a
// memcpy of the same bytes, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/core/sha256.h"

namespace {

constexpr size_t kBytes = 8 << 20;  // larger than the caches, as an installer's payload is

std::vector<unsigned char> Payload() {
    std::vector<unsigned char> bytes(kBytes);
    unsigned value = 12345;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>((value = value * 1103515245u + 12345u) >> 24);
    return bytes;
}

void BM_Memcpy(benchmark::State& state) {
    const std::vector<unsigned char> from = Payload();
    std::vector<unsigned char> to(kBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kBytes);
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_Sha256(benchmark::State& state) {
    const std::vector<unsigned char> bytes = Payload();
    const auto engine = static_cast<engine::Sha256Engine>(state.range(0));
    state.SetLabel(engine == engine::Sha256Engine::Portable ? "portable"
                   : engine::Sha256::fastestEngine() == engine ? "SHA instructions"
                                                               : "SHA instructions missing: portable");
    for (auto _ : state) {
        engine::Sha256 hash(engine);
        hash.update(bytes.data(), bytes.size());
        uint8_t digest[32];
        hash.finish(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_Sha256)
    ->Arg(static_cast<int>(engine::Sha256Engine::Portable))
    ->Arg(static_cast<int>(engine::Sha256Engine::ProcessorExtensions))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
