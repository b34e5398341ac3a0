// One collection pass over a worst-case home, against the floor of the same work: reading the
// same tail bytes and parsing every line with simdjson, nothing else.
//
//   bench_sources_pass                      Google Benchmark figures
//   bench_sources_pass --peak-memory        peak resident memory of one pass above its baseline
//   bench_sources_pass --keep-home          builds a home, prints its path and leaves it in place
//   bench_sources_pass --one-pass HOME [N]  exactly one (or N) passes over HOME (for profilers and
//                                           instruction counters)
//   bench_sources_pass --one-floor HOME [R] exactly one floor over HOME reading each tail R times
//                                           (default 2, as a pass does; `snapshot` reads once)

#include "model/Clock.h"
#include "sources/SourceRegistry.h"
#include "sources/io/Environment.h"
#include "sources/io/FileReaders.h"
#include "sources/io/SurveyCache.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <simdjson.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using korvo::UsageAdapter;
using AdapterList = std::vector<std::shared_ptr<const UsageAdapter>>;

constexpr std::size_t kBigLogs = 20;
constexpr std::size_t kSmallLogs = 520;
constexpr std::size_t kBigLogBytes = 2'300'000;

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void setTime(const fs::path& path, long long seconds) {
    fs::last_write_time(path, fs::file_time_type::clock::from_sys(
                                  std::chrono::sys_seconds{std::chrono::seconds{seconds}}));
}

std::string words(std::size_t bytes, unsigned seed) {
    static const char* const vocabulary[] = {"refactor", "the",  "parser", "so",   "that",
                                             "every",    "line", "is",     "read", "once",
                                             "é",        "→",    "tests",  "pass", "quickly"};
    std::string text;
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < bytes) {
        state = state * 1103515245u + 12345u;
        text += vocabulary[(state >> 16) % 15];
        text += ' ';
    }
    return text;
}

std::string isoTime(int minute, int second) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "2026-01-05T%02d:%02d:%02d.000Z", 8 + minute / 60,
                  minute % 60, second);
    return buffer;
}

// A Claude Code conversation log: old short lines first, then long lines in the last 512 KiB.
std::string claudeLog(unsigned seed) {
    std::string text;
    int minute = 0;
    while (text.size() < kBigLogBytes - 600'000) {
        text += R"({"type":"user","timestamp":")" + isoTime(minute % 50, 1) +
                R"(","message":{"role":"user","content":")" + words(300, seed++) + "\"}}\n";
    }
    int second = 0;
    while (text.size() < kBigLogBytes) {
        ++second;
        if (second % 2 == 0) {
            text +=
                R"({"parentUuid":"a1","isSidechain":false,"type":"assistant","timestamp":")" +
                isoTime(minute % 50, second % 60) +
                R"(","message":{"id":"msg_1","role":"assistant","model":"m","content":[{"type":"text","text":")" +
                words(9000, seed++) + R"("}],"stop_reason":"end_turn","usage":{"input_tokens":)" +
                std::to_string(1000 + second) +
                R"(,"cache_creation_input_tokens":200,"cache_read_input_tokens":24000,"output_tokens":640}},"costUSD":0.42})"
                "\n";
        } else {
            text +=
                R"({"parentUuid":"a0","type":"user","timestamp":")" +
                isoTime(minute % 50, second % 60) +
                R"(","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t1","content":")" +
                words(14000, seed++) +
                R"("}]},"toolUseResult":{"stdout":"ok","stderr":""}})"
                "\n";
        }
        minute += second % 60 == 0 ? 1 : 0;
    }
    return text;
}

// A Codex session log in the tool's current line shape.
std::string codexLog(unsigned seed) {
    std::string text;
    int second = 0;
    while (text.size() < kBigLogBytes - 600'000) {
        text +=
            R"({"timestamp":")" + isoTime(0, (second++) % 60) +
            R"(","type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":")" +
            words(300, seed++) + "\"}]}}\n";
    }
    while (text.size() < kBigLogBytes) {
        ++second;
        if (second % 3 == 0) {
            text +=
                R"({"timestamp":")" + isoTime(30, second % 60) +
                R"(","type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":52000,"cached_input_tokens":31000,"output_tokens":2100,"reasoning_output_tokens":900,"total_tokens":54100},"last_token_usage":{"input_tokens":8000,"cached_input_tokens":7000,"output_tokens":300,"reasoning_output_tokens":100,"total_tokens":8300},"model_context_window":272000},"rate_limits":{"primary":{"used_percent":30.0,"window_minutes":300,"resets_at":1767607200},"secondary":{"used_percent":10.0,"window_minutes":10080,"resets_at":1768212000}}}})"
                "\n";
        } else {
            text +=
                R"({"timestamp":")" + isoTime(30, second % 60) +
                R"(","type":"response_item","payload":{"type":"function_call_output","call_id":"c1","output":")" +
                words(12000, seed++) + "\"}}\n";
        }
    }
    return text;
}

std::string telemetryLine(unsigned i, const char* metric) {
    const char* types[] = {"input", "output", "thought", "cache", "tool"};
    return R"({"resourceMetrics":[{"resource":{"attributes":[{"key":"service.name","value":{"stringValue":"cli"}}]},"scopeMetrics":[{"scope":{"name":"cli"},"metrics":[{"name":")" +
           std::string(metric) +
           R"(","sum":{"dataPoints":[{"attributes":[{"key":"type","value":{"stringValue":")" +
           types[i % 5] + R"("}},{"key":"model","value":{"stringValue":"m"}}],"timeUnixNano":")" +
           std::to_string(1767600000000000000ULL + i * 1000000000ULL) + R"(","asInt":")" +
           std::to_string(100 + i) + R"("}]}}]}]}]})";
}

// Every log whose tail a pass reads, in the home built below.
std::vector<fs::path> tailFilesOf(const fs::path& root) {
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < kBigLogs; ++i) {
        files.push_back(root / (".claude/projects/-home-dev-p" + std::to_string(i) + "/s.jsonl"));
        files.push_back(root /
                        (".codex/sessions/2026/01/05/rollout-" + std::to_string(i) + ".jsonl"));
    }
    files.push_back(root / ".gemini/telemetry.log");
    files.push_back(root / ".korvo/copilot-otel.jsonl");
    files.push_back(root / ".config/github-copilot/otel.jsonl");
    return files;
}

struct WorstCaseHome {
    bool keep = false;
    fs::path root;
    std::vector<fs::path> searchPaths;
    std::vector<fs::path> tailFiles; // every log whose tail a pass reads

    WorstCaseHome() {
        std::string pattern = (fs::temp_directory_path() / "korvo-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        const long long now = 1767603600;
        for (std::size_t i = 0; i < kBigLogs; ++i) {
            const auto claude =
                root / (".claude/projects/-home-dev-p" + std::to_string(i) + "/s.jsonl");
            writeFile(claude, claudeLog(static_cast<unsigned>(i)));
            setTime(claude, now - static_cast<long long>(i));
            const auto codex =
                root / (".codex/sessions/2026/01/05/rollout-" + std::to_string(i) + ".jsonl");
            writeFile(codex, codexLog(static_cast<unsigned>(i) + 100));
            setTime(codex, now - static_cast<long long>(i));
        }
        for (std::size_t i = 0; i < kSmallLogs; ++i) {
            const auto claude = root / (".claude/projects/-old-" + std::to_string(i % 40) + "/o" +
                                        std::to_string(i) + ".jsonl");
            writeFile(claude, R"({"type":"summary","summary":"old"})"
                              "\n");
            setTime(claude, now - 100'000 - static_cast<long long>(i));
            const auto codex = root / (".codex/sessions/2025/12/" + std::to_string(i % 30) + "/r" +
                                       std::to_string(i) + ".jsonl");
            writeFile(codex, R"({"timestamp":"2025-12-01T00:00:00Z","type":"session_meta"})"
                             "\n");
            setTime(codex, now - 100'000 - static_cast<long long>(i));
        }
        writeFile(root / ".codex/state_5.sqlite", "SQLite format 3");
        writeFile(root / ".gemini/settings.json",
                  R"({"telemetry":{"enabled":true,"target":"local","logPrompts":false}})");
        std::string telemetry;
        for (unsigned i = 0; i < 3000; ++i) {
            telemetry += telemetryLine(i, "gemini_cli.token.usage") + "\n";
        }
        writeFile(root / ".gemini/telemetry.log", telemetry);
        for (const char* exporter :
             {".korvo/copilot-otel.jsonl", ".config/github-copilot/otel.jsonl"}) {
            std::string lines;
            for (unsigned i = 0; i < 1500; ++i) {
                lines += telemetryLine(i, "gen_ai.client.token.usage") + "\n";
            }
            writeFile(root / exporter, lines);
        }
        for (const char* command : {"claude", "codex", "gemini", "copilot"}) {
            writeFile(root / "bin" / command, "#!/bin/sh\n");
            ::chmod((root / "bin" / command).c_str(), 0755);
        }
        searchPaths = {root / "bin", "/usr/local/bin", "/usr/bin", "/bin"};
        tailFiles = tailFilesOf(root);
    }
    ~WorstCaseHome() {
        if (keep) {
            return;
        }
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

WorstCaseHome& home() {
    static WorstCaseHome instance;
    return instance;
}

struct Pass {
    AdapterList real;
    AdapterList sources;
};

// User and kernel CPU time of this process so far, in milliseconds.
struct CpuSplit {
    double user = 0;
    double system = 0;
};
CpuSplit cpuNow() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

// Reports how an iteration's CPU time splits between user code and the kernel (reads, folder
// walks), which instruction counters do not see.
void reportSplit(benchmark::State& state, const CpuSplit& before) {
    const CpuSplit after = cpuNow();
    const auto iterations =
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["user_ms"] = (after.user - before.user) / iterations;
    state.counters["sys_ms"] = (after.system - before.system) / iterations;
}

Pass makePass() {
    const auto& h = home();
    const korvo::Environment environment = korvo::fixedEnvironment({});
    return {korvo::realAdapters(h.root, h.searchPaths, korvo::systemClock(), environment),
            korvo::sourceAdapters(h.root, h.searchPaths, korvo::systemClock(), environment)};
}

std::size_t runPass(const Pass& pass) {
    std::size_t rows = 0;
    for (const auto& adapter : pass.real) {
        try {
            rows += adapter->readUsage().row.has_value() ? 1 : 0;
        } catch (...) {
        }
    }
    for (const auto& adapter : pass.sources) {
        const auto diagnostic = adapter->diagnose();
        benchmark::DoNotOptimize(diagnostic.trackingStatus.data());
    }
    return rows;
}

void BM_FullPass(benchmark::State& state) {
    const Pass pass = makePass();
    std::size_t rows = 0;
    const CpuSplit before = cpuNow();
    for (auto _ : state) {
        rows = runPass(pass);
        benchmark::DoNotOptimize(rows);
    }
    reportSplit(state, before);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["diagnosed"] = static_cast<double>(pass.sources.size());
}
BENCHMARK(BM_FullPass)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One real adapter's share of a pass: its readUsage and its diagnose.
void BM_AdapterShare(benchmark::State& state) {
    const Pass pass = makePass();
    const auto& adapter = pass.real.at(static_cast<std::size_t>(state.range(0)));
    state.SetLabel(adapter->id());
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(adapter->readUsage());
        } catch (...) {
        }
        const auto diagnostic = adapter->diagnose();
        benchmark::DoNotOptimize(diagnostic.trackingStatus.data());
    }
}
BENCHMARK(BM_AdapterShare)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Where a pass spends its time: each readUsage and each diagnose of the four real adapters, in
// milliseconds per pass (the detection-only tools and the mock take microseconds).
void BM_PassStages(benchmark::State& state) {
    const Pass pass = makePass();
    std::map<std::string, double> spent;
    const auto timed = [&](const std::string& name, const auto& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        spent[name] +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    };
    for (auto _ : state) {
        for (const auto& adapter : pass.real) {
            timed("read:" + adapter->id(), [&] {
                try {
                    benchmark::DoNotOptimize(adapter->readUsage());
                } catch (...) {
                }
            });
        }
        for (const auto& adapter : pass.sources) {
            timed("diagnose:" + adapter->id(), [&] {
                const auto diagnostic = adapter->diagnose();
                benchmark::DoNotOptimize(diagnostic.trackingStatus.data());
            });
        }
    }
    const auto iterations = static_cast<double>(state.iterations());
    for (const auto& adapter : pass.real) {
        for (const char* stage : {"read:", "diagnose:"}) {
            const std::string name = stage + adapter->id();
            state.counters[name] = spent[name] / iterations;
        }
    }
}
BENCHMARK(BM_PassStages)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Reads the tail of every file the pass reads, `reads` times each (a pass reads each once for
// readUsage and once more for diagnose), splits it at line breaks and parses every line;
// nothing else. Returns the number of lines parsed.
std::size_t floorPass(const std::vector<fs::path>& files, int reads, simdjson::dom::parser& parser,
                      std::vector<char>& buffer) {
    std::size_t lines = 0;
    for (int r = 0; r < reads; ++r) {
        for (const auto& file : files) {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            ::fstat(fd, &info);
            const off_t start =
                std::max<off_t>(0, info.st_size - static_cast<off_t>(korvo::kTailWindowBytes));
            const ssize_t got = ::pread(fd, buffer.data(), korvo::kTailWindowBytes, start);
            ::close(fd);
            const char* cursor = buffer.data();
            const char* end = cursor + std::max<ssize_t>(got, 0);
            while (cursor < end) {
                const char* lineEnd = static_cast<const char*>(
                    std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor)));
                if (lineEnd == nullptr) {
                    lineEnd = end;
                }
                if (lineEnd > cursor) {
                    simdjson::dom::element document;
                    const auto error =
                        parser.parse(cursor, static_cast<std::size_t>(lineEnd - cursor), false)
                            .get(document);
                    benchmark::DoNotOptimize(error);
                    ++lines;
                }
                cursor = lineEnd + 1;
            }
        }
    }
    return lines;
}

void BM_Floor(benchmark::State& state) {
    const auto reads = static_cast<int>(state.range(0));
    const std::vector<fs::path>& files = home().tailFiles;
    simdjson::dom::parser parser;
    std::vector<char> buffer(korvo::kTailWindowBytes + simdjson::SIMDJSON_PADDING);
    std::size_t lines = 0;
    const CpuSplit before = cpuNow();
    for (auto _ : state) {
        lines = floorPass(files, reads, parser, buffer);
        benchmark::DoNotOptimize(lines);
    }
    reportSplit(state, before);
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_Floor)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The pass and the floors measured alternately in the same iterations, so that a noisy
// neighbour slows all of them alike: the ratios are the figures to compare against the target.
void BM_PassAgainstFloor(benchmark::State& state) {
    const Pass pass = makePass();
    const std::vector<fs::path>& files = home().tailFiles;
    simdjson::dom::parser parser;
    std::vector<char> buffer(korvo::kTailWindowBytes + simdjson::SIMDJSON_PADDING);
    const auto cpuMs = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    double passMs = 0;
    double floorOnceMs = 0;
    double floorTwiceMs = 0;
    for (auto _ : state) {
        double start = cpuMs();
        benchmark::DoNotOptimize(runPass(pass));
        passMs += cpuMs() - start;
        start = cpuMs();
        benchmark::DoNotOptimize(floorPass(files, 1, parser, buffer));
        floorOnceMs += cpuMs() - start;
        start = cpuMs();
        benchmark::DoNotOptimize(floorPass(files, 2, parser, buffer));
        floorTwiceMs += cpuMs() - start;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["pass_ms"] = passMs / iterations;
    state.counters["floor1_ms"] = floorOnceMs / iterations;
    state.counters["floor2_ms"] = floorTwiceMs / iterations;
    state.counters["ratio_floor1"] = passMs / floorOnceMs;
    state.counters["ratio_floor2"] = passMs / floorTwiceMs;
}
BENCHMARK(BM_PassAgainstFloor)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The folder walks of a pass alone: each log folder surveyed once for readUsage and once for
// diagnose.
void BM_FolderWalks(benchmark::State& state) {
    const std::set<std::string, std::less<>> jsonl{"jsonl"};
    const CpuSplit before = cpuNow();
    for (auto _ : state) {
        for (const char* folder : {".claude/projects", ".codex/sessions"}) {
            for (int r = 0; r < 2; ++r) {
                const auto survey = korvo::surveyFiles(home().root / folder, jsonl, 500, 20);
                benchmark::DoNotOptimize(survey.recent.data());
            }
        }
    }
    reportSplit(state, before);
}
BENCHMARK(BM_FolderWalks)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same surveys as a program that collects again and again makes them: watched, so that a tree
// in which nothing changed is not walked again.
void BM_FolderWalksWatched(benchmark::State& state) {
    const std::set<std::string, std::less<>> jsonl{"jsonl"};
    korvo::SurveyCache claude;
    korvo::SurveyCache codex;
    const CpuSplit before = cpuNow();
    for (auto _ : state) {
        for (auto [folder, cache] :
             {std::pair{".claude/projects", &claude}, std::pair{".codex/sessions", &codex}}) {
            for (int r = 0; r < 2; ++r) {
                const auto survey = cache->survey(home().root / folder, jsonl, 500, 20);
                benchmark::DoNotOptimize(survey.recent.data());
            }
        }
    }
    reportSplit(state, before);
}
BENCHMARK(BM_FolderWalksWatched)->Unit(benchmark::kMillisecond)->MinTime(2.0);

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0) {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return -1;
}

// Runs one pass over an existing home in this fresh process and reports its peak memory.
int measurePass(const fs::path& root) {
    const korvo::Environment environment = korvo::fixedEnvironment({});
    const std::vector<fs::path> searchPaths = {root / "bin", "/usr/local/bin", "/usr/bin", "/bin"};
    const Pass pass{korvo::realAdapters(root, searchPaths, korvo::systemClock(), environment),
                    korvo::sourceAdapters(root, searchPaths, korvo::systemClock(), environment)};
    const long baseline = statusKiB("VmRSS");
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    const std::size_t rows = runPass(pass);
    const long peak = statusKiB("VmHWM");
    std::printf("rows %zu, baseline VmRSS %ld KiB, VmHWM after one pass %ld KiB\n"
                "peak above baseline: %.2f MiB\n",
                rows, baseline, peak, static_cast<double>(peak - baseline) / 1024.0);
    return 0;
}

// Builds the worst-case home, then measures a pass in a separate process so that neither the
// home's generation nor the heap it leaves behind count.
int peakMemory(const char* self) {
    const std::string command = std::string(self) + " --measure-pass " + home().root.string();
    return std::system(command.c_str()) == 0 ? 0 : 1;
}

// Exactly one pass (or `passes` of them), or one read-twice floor, over an existing home: a fixed
// amount of work for instruction counters such as callgrind's (toggle collection on runPass or
// floorPass).
int onePass(const fs::path& root, int passes) {
    const korvo::Environment environment = korvo::fixedEnvironment({});
    const std::vector<fs::path> searchPaths = {root / "bin", "/usr/local/bin", "/usr/bin", "/bin"};
    const Pass pass{korvo::realAdapters(root, searchPaths, korvo::systemClock(), environment),
                    korvo::sourceAdapters(root, searchPaths, korvo::systemClock(), environment)};
    std::size_t rows = 0;
    for (int i = 0; i < passes; ++i) {
        rows = runPass(pass);
    }
    std::printf("rows %zu\n", rows);
    return 0;
}

int oneFloor(const fs::path& root, int reads) {
    simdjson::dom::parser parser;
    std::vector<char> buffer(korvo::kTailWindowBytes + simdjson::SIMDJSON_PADDING);
    std::printf("lines %zu\n", floorPass(tailFilesOf(root), reads, parser, buffer));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--keep-home") == 0) {
        home().keep = true;
        std::printf("%s\n", home().root.c_str());
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "--one-pass") == 0) {
        return onePass(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 1);
    }
    if (argc > 2 && std::strcmp(argv[1], "--one-floor") == 0) {
        return oneFloor(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 2);
    }
    if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0) {
        return peakMemory(argv[0]);
    }
    if (argc > 2 && std::strcmp(argv[1], "--measure-pass") == 0) {
        return measurePass(argv[2]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
