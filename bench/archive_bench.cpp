// Throughput of the archive's hashing, inflation and start-up check next to the floor they
// are judged against: a memcpy of the same bytes, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/core/archive.h"
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

// Half incompressible, half text-like, as an application's files are.
std::vector<unsigned char> MixedPayload() {
    std::vector<unsigned char> bytes = Payload();
    static const char kText[] = "kelvane installs files; each line of text repeats itself somewhat.\n";
    for (size_t i = kBytes / 2; i < kBytes; ++i) bytes[i] = static_cast<unsigned char>(kText[i % (sizeof kText - 1)]);
    return bytes;
}

bool Discard(void*, const uint8_t*, size_t) { return true; }

// What extraction costs per byte it writes: inflate, and inflate with the SHA-256 check.
void BM_Inflate(benchmark::State& state) {
    const std::vector<unsigned char> payload = MixedPayload();
    std::vector<uint8_t> archive;
    engine::WriteArchive({{"payload.bin", std::vector<uint8_t>(payload.begin(), payload.end())}}, archive, nullptr);
    const engine::ArchiveIndex index = engine::ReadArchive(archive.data(), archive.size(), false);
    const auto check = state.range(0) != 0 ? engine::ExtractCheck::kSizeAndHash : engine::ExtractCheck::kSizeOnly;
    state.SetLabel(state.range(0) != 0 ? "inflate and hash" : "inflate only");
    for (auto _ : state) {
        if (!engine::ExtractEntry(archive.data(), archive.size(), index.entries[0], Discard, nullptr, nullptr, check)) {
            state.SkipWithError("extraction failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_Inflate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The start-up check of a whole version 2 archive: its stored bytes hashed once.
void BM_CheckArchive(benchmark::State& state) {
    const std::vector<unsigned char> payload = MixedPayload();
    std::vector<uint8_t> archive;
    engine::WriteArchive({{"payload.bin", std::vector<uint8_t>(payload.begin(), payload.end())}}, archive, nullptr);
    for (auto _ : state) {
        if (!engine::ReadArchive(archive.data(), archive.size(), true).ok) state.SkipWithError("check failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(archive.size()));
}
BENCHMARK(BM_CheckArchive)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
