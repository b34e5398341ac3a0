// Encoding and decoding the snapshot wire form, with the demo snapshot grown to many rows.
#include "model/SnapshotJson.h"
#include "sources/adapters/MockAdapter.h"

#include <benchmark/benchmark.h>

namespace {

korvo::UsageSnapshot snapshotWithRows(std::size_t rows) {
    const korvo::MockAdapter adapter(korvo::fixedClock(korvo::instantFromUnixSeconds(1772356445)));
    korvo::UsageSnapshot snapshot = adapter.makeDemoSnapshot("space", "mac_1", "Workstation");
    const auto demoRows = snapshot.providers;
    snapshot.providers.clear();
    for (std::size_t i = 0; i < rows; ++i) {
        snapshot.providers.push_back(demoRows[i % demoRows.size()]);
    }
    return snapshot;
}

void encode(benchmark::State& state) {
    const auto snapshot = snapshotWithRows(std::size_t(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(korvo::encodeSnapshot(snapshot));
    }
}
BENCHMARK(encode)->Arg(2)->Arg(64);

void decode(benchmark::State& state) {
    const std::string json =
        korvo::encodeSnapshot(snapshotWithRows(std::size_t(state.range(0)))).value();
    for (auto _ : state) {
        benchmark::DoNotOptimize(korvo::decodeSnapshot(json));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * json.size()));
}
BENCHMARK(decode)->Arg(2)->Arg(64);

} // namespace

BENCHMARK_MAIN();
