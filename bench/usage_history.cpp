// The local usage history: the cost of recording one collection of four tools, and the file's
// size after a long run of 30-second collections in which every value changes every time.
//
//   bench_usage_history                   Google Benchmark figures for one recording
//   bench_usage_history --simulate DAYS   DAYS of 30-second collections of four tools into a
//                                         fresh file; prints the file's size and the time taken

#include "core/UsageHistory.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr korvo::Instant kStart = korvo::instantFromUnixSeconds(1772355600);

// Four tools whose figures all change with each collection; the 5-hour windows reset on time.
std::vector<korvo::ProviderUsage> rowsAt(long long collection) {
    static const char* const kTools[] = {"claude-code", "codex", "gemini-cli", "github-copilot"};
    const long long seconds = collection * 30;
    const long long window = seconds / (5 * 3600);
    std::vector<korvo::ProviderUsage> rows;
    for (int tool = 0; tool < 4; ++tool) {
        korvo::ProviderUsage row;
        row.id = kTools[tool];
        row.displayName = kTools[tool];
        row.window = korvo::UsageWindow{korvo::UsageWindowKind::rolling,
                                        "5h",
                                        {},
                                        kStart + std::chrono::hours(5 * (window + 1))};
        row.usage.usedPercent = double(seconds % (5 * 3600)) / (5 * 36.0);
        row.usage.inputTokens = double(collection * 1000 + tool);
        row.usage.outputTokens = double(collection * 100);
        row.usage.costUsd = double(collection) / 100;
        rows.push_back(row);
    }
    return rows;
}

fs::path freshFile() {
    char folder[] = "/tmp/korvo-bench-history.XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return fs::path(folder) / "usage-history.sqlite";
}

void BM_RecordCollection(benchmark::State& state) {
    const fs::path file = freshFile();
    korvo::UsageHistory history(file);
    long long collection = 0;
    // A day of history first, as a running connector has.
    for (; collection < 2880; ++collection) {
        history.record(rowsAt(collection), kStart + std::chrono::seconds(30 * collection));
    }
    for (auto _ : state) {
        const auto rows = rowsAt(collection);
        const bool ok = history.record(rows, kStart + std::chrono::seconds(30 * collection));
        benchmark::DoNotOptimize(ok);
        ++collection;
    }
    fs::remove_all(file.parent_path());
}
BENCHMARK(BM_RecordCollection)->Unit(benchmark::kMicrosecond);

void BM_ReadCurrentWindow(benchmark::State& state) {
    const fs::path file = freshFile();
    korvo::UsageHistory history(file);
    for (long long collection = 0; collection < 2880; ++collection) {
        history.record(rowsAt(collection), kStart + std::chrono::seconds(30 * collection));
    }
    const auto rows = rowsAt(2879);
    for (auto _ : state) {
        for (const auto& row : rows) {
            benchmark::DoNotOptimize(history.currentWindow(row));
        }
    }
    fs::remove_all(file.parent_path());
}
BENCHMARK(BM_ReadCurrentWindow)->Unit(benchmark::kMicrosecond);

int simulate(long long days) {
    const fs::path file = freshFile();
    const auto started = std::chrono::steady_clock::now();
    std::uintmax_t largest = 0;
    {
        korvo::UsageHistory history(file);
        const long long collections = days * 2880;
        for (long long collection = 0; collection < collections; ++collection) {
            if (!history.record(rowsAt(collection),
                                kStart + std::chrono::seconds(30 * collection))) {
                std::fprintf(stderr, "recording %lld failed\n", collection);
                return 1;
            }
            if (collection % 2880 == 0) {
                largest = std::max(largest, fs::file_size(file));
            }
        }
        largest = std::max(largest, fs::file_size(file));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%lld days of 30-second collections, four tools: file %.2f MiB (largest %.2f "
                "MiB), %.1f s, %.1f us per collection\n",
                days, double(fs::file_size(file)) / (1 << 20), double(largest) / (1 << 20), seconds,
                seconds * 1e6 / double(days * 2880));
    fs::remove_all(file.parent_path());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--simulate") == 0) {
        return simulate(std::atoll(argv[2]));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
