#include "sources/adapters/CodexAdapter.h"

#include "model/TimeText.h"
#include "sources/adapters/DiagnosticLines.h"
#include "sources/fields/FieldExtraction.h"
#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/fields/TokenSum.h"
#include "sources/io/FileReaders.h"
#include "sources/io/LogScan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace korvo {

namespace {

constexpr std::string_view kCommand = "codex";
constexpr std::size_t kSessionFiles = 20;
constexpr std::size_t kSessionLines = 200;
constexpr std::size_t kCountLimit = 500;
// A rollout's first line, its session_meta, carries the thread's instructions: a long line.
constexpr std::uintmax_t kMetaLineLimit = 1'048'576;
// Entries looked at at most when a parent thread's rollout is looked for by its name.
constexpr std::size_t kLookupEntries = 50'000;
// Parent links followed at most from a thread to the conversation's main thread.
constexpr int kMaxDepth = 16;

constexpr std::array<std::string_view, 2> kUsedKeys = {"used_percent", "usedPercent"};

// The used share of a window. The tool's own windows (recognisable by their length in minutes)
// always write a percentage from 0 to 100; elsewhere 0 to 1 is read as a fraction.
struct WindowUse {
    double percent;      // 0 to 100
    bool writtenAsShare; // the raw value was taken as 0 to 1
};

std::optional<WindowUse> windowUse(const simdjson::dom::object& window) {
    const auto used = numberMember(window, kUsedKeys);
    if (!used) {
        return std::nullopt;
    }
    if (firstMember(window, {"window_minutes", "windowMinutes"})) {
        return WindowUse{std::clamp(*used, 0.0, 100.0), false};
    }
    return WindowUse{normalizedPercent(*used), *used <= 1};
}

// A window's reset time: an absolute time, else a delay counted from the line's own time.
std::optional<Instant> windowReset(const simdjson::dom::object& window,
                                   const std::optional<Instant>& lineTime) {
    if (auto reset = dateMember(window, kWindowResetKeys)) {
        return reset;
    }
    const auto delay = numberMember(window, {"resets_in_seconds", "resetsInSeconds"});
    if (!delay || !lineTime || std::abs(*delay) > 1e9) {
        return std::nullopt;
    }
    // A line time near the end of the instant's range plus the delay may lie beyond it.
    return shiftedInstant(*lineTime, std::chrono::nanoseconds(std::llround(*delay * 1e9)));
}

// Appends `reset` as formatInternetDateTime writes it ("2026-01-12T10:00:00Z") without the printf
// it costs there: every line that carries a weekly window comes here.
void appendResetTime(std::string& text, Instant reset) {
    using namespace std::chrono;
    const auto whole = floor<seconds>(reset);
    const auto dayStart = floor<days>(whole);
    const year_month_day date{dayStart};
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) {
        text += formatInternetDateTime(reset);
        return;
    }
    const hh_mm_ss<seconds> time{whole - dayStart};
    char out[] = "0000-00-00T00:00:00Z";
    const auto put = [&out](std::size_t at, long long value) { // two digits, or four at 0
        for (std::size_t end = at == 0 ? 4 : at + 2; end > at; value /= 10) {
            out[--end] = static_cast<char>('0' + value % 10);
        }
    };
    put(0, year);
    put(5, static_cast<unsigned>(date.month()));
    put(8, static_cast<unsigned>(date.day()));
    put(11, time.hours().count());
    put(14, time.minutes().count());
    put(17, time.seconds().count());
    text.append(out, sizeof out - 1);
}

// Whether `limits` is the account's own quota: the bucket "codex", or one without an id (builds
// that wrote no id knew only that one).
bool isAccountBucket(const simdjson::dom::object& limits) {
    simdjson::dom::element id;
    if (limits.at_key("limit_id").get(id) != simdjson::SUCCESS &&
        limits.at_key("limitId").get(id) != simdjson::SUCCESS) {
        return true;
    }
    std::string_view text;
    return id.is_null() || (id.get_string().get(text) == simdjson::SUCCESS && text == "codex");
}

std::optional<std::string> windowLabel(const simdjson::dom::object& window) {
    for (const std::string_view key : {"window", "label"}) {
        simdjson::dom::element value;
        if (!window.at_key(key).get(value)) {
            if (auto text = parseText(value)) {
                return text;
            }
        }
    }
    if (const auto minutes = numberMember(window, {"window_minutes", "windowMinutes"})) {
        if (auto label = CodexAdapter::windowLabelFromMinutes(*minutes)) {
            return label;
        }
    }
    return "5h";
}

} // namespace

CodexAdapter::CodexAdapter(std::filesystem::path home,
                           std::vector<std::filesystem::path> searchPaths, Clock clock,
                           const Environment& environment)
    : LocalToolAdapter("codex", "Codex CLI", std::move(home), std::move(searchPaths),
                       std::move(clock)),
      sessionsSurvey_(std::make_shared<SurveyCache>(clock_)),
      archivedSurvey_(std::make_shared<SurveyCache>(clock_)),
      threads_(std::make_shared<CodexThreads>()) {
    std::filesystem::path codexHome = home_ / ".codex";
    if (environment) {
        if (const auto configured = environment("CODEX_HOME"); configured && !configured->empty()) {
            codexHome = *configured;
        }
    }
    sessions_ = codexHome / "sessions";
    // Archiving a thread moves its rollout here.
    archived_ = codexHome / "archived_sessions";
    // CODEX_SQLITE_HOME moves the state database, and only it.
    std::filesystem::path sqliteHome = codexHome;
    if (environment) {
        if (const auto configured = environment("CODEX_SQLITE_HOME");
            configured && !configured->empty()) {
            sqliteHome = *configured;
        }
    }
    state_ = sqliteHome / "state_5.sqlite";
}

std::optional<std::string> CodexAdapter::windowLabelFromMinutes(double minutes) {
    if (!std::isfinite(minutes) || minutes < 0.5 || minutes > 1e9) {
        return std::nullopt;
    }
    const long long whole = std::llround(minutes);
    if (whole % 1440 == 0) {
        return std::to_string(whole / 1440) + "d";
    }
    if (whole % 60 == 0) {
        return std::to_string(whole / 60) + "h";
    }
    return std::to_string(whole) + "m";
}

std::optional<SanitizedUsageCandidate>
CodexAdapter::sessionLineCandidate(simdjson::dom::parser& parser, std::string_view paddedLine,
                                   Instant now) {
    return readSessionLine(parser, paddedLine, now).candidate;
}

LogLineOutcome CodexAdapter::readSessionLine(simdjson::dom::parser& parser,
                                             std::string_view paddedLine, Instant now) {
    LogLineOutcome outcome;
    simdjson::dom::element document;
    simdjson::dom::object line;
    if (!parseLogLine(parser, paddedLine, document, outcome) || document.get(line)) {
        return outcome;
    }
    const auto payload = objectMember(line, "payload");
    const simdjson::dom::object root = payload.value_or(line);

    SanitizedUsageCandidate candidate;
    // The tool writes its time on the line and everything else in the payload.
    candidate.observedAt = dateMember(root, {"timestamp"});
    if (!candidate.observedAt && payload) {
        candidate.observedAt = dateMember(line, {"timestamp"});
    }

    auto tokens = firstObjectMember(root, {"token_count", "tokenCount"});
    if (!tokens) {
        if (const auto info = objectMember(root, "info")) {
            tokens = objectMember(*info, "total_token_usage");
        }
    }
    if (tokens) {
        candidate.inputTokens = numberMember(*tokens, {"input_tokens", "inputTokens"});
        candidate.outputTokens = numberMember(*tokens, {"output_tokens", "outputTokens"});
        candidate.cachedInputTokens =
            numberMember(*tokens, {"cached_input_tokens", "cachedInputTokens"});
        // The tool's input count includes the cached input; the row's input is the part that
        // was not read from the cache, as the tool's own display shows it.
        if (candidate.inputTokens && candidate.cachedInputTokens) {
            candidate.inputTokens =
                std::max(0.0, *candidate.inputTokens - *candidate.cachedInputTokens);
        }
    }

    const auto limits = firstObjectMember(root, {"rate_limits", "rateLimits"});
    // Another bucket's windows are not the account's quota, and the generic walk must not find
    // them either.
    const bool otherBucket = limits && !isAccountBucket(*limits);
    if (limits && !otherBucket) {
        if (const auto primary = objectMember(*limits, "primary")) {
            const auto reset = windowReset(*primary, candidate.observedAt);
            if (reset && *reset < now) {
                // The window ended since the sample: nothing of the new one is known to be used.
                candidate.usedPercent = 0;
                candidate.remainingPercent = 100;
            } else {
                if (const auto use = windowUse(*primary)) {
                    if (use->writtenAsShare || use->percent > 1) {
                        candidate.usedPercent = numberMember(*primary, kUsedKeys);
                    } else {
                        // A percentage of at most 1 would be read as a share of 1 further on;
                        // the remaining side carries the same information unambiguously.
                        candidate.remainingPercent = 100 - use->percent;
                    }
                }
                if (!candidate.remainingPercent) {
                    candidate.remainingPercent =
                        numberMember(*primary, {"remaining_percent", "remainingPercent"});
                }
                candidate.resetAt = reset;
            }
            candidate.windowLabel = windowLabel(*primary);
        }
        if (const auto secondary = objectMember(*limits, "secondary")) {
            if (const auto use = windowUse(*secondary)) {
                const auto reset = windowReset(*secondary, candidate.observedAt);
                const bool ended = reset && *reset < now;
                std::string text =
                    percentRemainingTextForPercent("Weekly", ended ? 0.0 : use->percent);
                if (reset && !ended) {
                    text += " · resets ";
                    appendResetTime(text, *reset);
                }
                candidate.remainingText = std::move(text);
            }
        }
    }

    candidate.costUsd = numberMember(root, {"costUSD", "costUsd", "cost_usd"});
    if (candidate.hasUsefulData()) {
        outcome.candidate = std::move(candidate);
    } else if (!otherBucket) {
        outcome.candidate = candidateFromDocument(document);
    }
    return outcome;
}

CodexAdapter::Rollouts CodexAdapter::rollouts(std::size_t countLimit,
                                              std::size_t recentLimit) const {
    const FileSurvey kept =
        sessionsSurvey_->survey(sessions_, jsonlExtension(), countLimit, recentLimit);
    const FileSurvey archived =
        archivedSurvey_->survey(archived_, jsonlExtension(), countLimit, recentLimit);
    Rollouts found{{}, kept.count, archived.count};
    if (archived.recent.empty()) {
        found.recent = kept.recent;
        return found;
    }
    // Both lists are newest first: merged by modification time, kept rollouts first on a tie.
    const auto modified = [](const std::filesystem::path& file) {
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) {
            return std::pair<long long, long>{std::numeric_limits<long long>::min(), 0};
        }
        return std::pair<long long, long>{info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    };
    std::vector<std::pair<std::pair<long long, long>, const std::filesystem::path*>> all;
    for (const auto* list : {&kept.recent, &archived.recent}) {
        for (const auto& file : *list) {
            all.emplace_back(modified(file), &file);
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; i < all.size() && i < recentLimit; ++i) {
        found.recent.push_back(*all[i].second);
    }
    return found;
}

std::optional<SanitizedUsageCandidate>
CodexAdapter::sessionCandidate(const std::vector<std::filesystem::path>& files, Instant now) const {
    simdjson::dom::parser parser;
    std::vector<LogSamples> samples =
        newestLogSamples(files, kSessionLines, parser, &CodexAdapter::readSessionLine, now);

    // Each rollout's thread, and the conversation (its main thread) it belongs to. A rollout
    // that names no thread is a conversation of its own.
    std::vector<CodexThread> threads;
    std::unordered_map<std::string, std::string> parents;
    threads.reserve(files.size());
    for (const auto& file : files) {
        threads.push_back(threads_->identify(file, kMetaLineLimit));
        if (!threads.back().id.empty()) {
            parents.emplace(threads.back().id, threads.back().parentId);
        }
    }
    const auto mainThreadOf = [&](const CodexThread& thread) {
        std::string id = thread.parentId.empty() ? thread.id : thread.parentId;
        for (int depth = 0; depth < kMaxDepth; ++depth) {
            const auto parent = parents.find(id);
            if (parent == parents.end() || parent->second.empty()) {
                break;
            }
            id = parent->second;
        }
        return id;
    };
    struct Conversation {
        std::string mainThread; // empty for a rollout that names no thread
        std::vector<std::size_t> members;
        bool mainFound = false;
        std::optional<Instant> newest; // time of the newest token count of any member
        std::size_t order = 0;         // place of its newest rollout in `files`
    };
    std::vector<Conversation> conversations;
    std::unordered_map<std::string, std::size_t> byMain;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CodexThread& thread = threads[i];
        if (thread.subagent && thread.parentId.empty()) {
            continue; // a subagent whose conversation is not named never stands for one
        }
        std::size_t index = conversations.size();
        if (thread.id.empty()) {
            conversations.push_back({{}, {}, true, {}, i});
        } else {
            const std::string main = mainThreadOf(thread);
            const auto [at, added] = byMain.emplace(main, conversations.size());
            if (added) {
                conversations.push_back({main, {}, false, {}, i});
            }
            index = at->second;
        }
        Conversation& conversation = conversations[index];
        conversation.members.push_back(i);
        conversation.mainFound = conversation.mainFound || thread.id == conversation.mainThread;
    }

    // The files whose samples are used are checked to be text before they count; one that is
    // not gives nothing, and the choice is made again without it.
    for (;;) {
        // The quota windows are the account's: the newest sample of any thread is the current
        // one (the first of equally new ones).
        std::optional<std::size_t> quotaFile;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto& limits = samples[i].limits;
            if (limits &&
                (!quotaFile || (limits->observedAt &&
                                (!samples[*quotaFile].limits->observedAt ||
                                 *limits->observedAt > *samples[*quotaFile].limits->observedAt)))) {
                quotaFile = i;
            }
        }
        // The newest conversation: the one with the newest token count, then the newest rollout.
        for (auto& conversation : conversations) {
            conversation.newest.reset();
            for (const std::size_t member : conversation.members) {
                const auto& tokens = samples[member].tokens;
                if (tokens && tokens->observedAt &&
                    (!conversation.newest || *tokens->observedAt > *conversation.newest)) {
                    conversation.newest = tokens->observedAt;
                }
            }
        }
        std::vector<const Conversation*> order;
        for (const auto& conversation : conversations) {
            order.push_back(&conversation);
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const Conversation* a, const Conversation* b) {
                             if (a->newest && b->newest && *a->newest != *b->newest) {
                                 return *a->newest > *b->newest;
                             }
                             if (a->newest.has_value() != b->newest.has_value()) {
                                 return a->newest.has_value();
                             }
                             return a->order < b->order;
                         });
        const Conversation* chosen = nullptr;
        for (const Conversation* conversation : order) {
            if (std::any_of(conversation->members.begin(), conversation->members.end(),
                            [&](std::size_t member) { return samples[member].tokens; })) {
                chosen = conversation;
                break;
            }
        }
        std::vector<std::size_t> used;
        if (quotaFile) {
            used.push_back(*quotaFile);
        }
        if (chosen) {
            for (const std::size_t member : chosen->members) {
                used.push_back(member);
            }
        }
        bool dropped = false;
        for (const std::size_t file : used) {
            if (!samples[file].unchecked) {
                continue;
            }
            if (logTailIsText(files[file], kSessionLines)) {
                samples[file].unchecked = false;
            } else {
                samples[file] = LogSamples{};
                dropped = true;
            }
        }
        if (dropped) {
            continue;
        }

        std::optional<SanitizedUsageCandidate> sum;
        const auto add = [&sum](const LogSamples& part) {
            if (part.tokens) {
                if (!sum) {
                    sum = SanitizedUsageCandidate{};
                }
                addTokens(*sum, *part.tokens);
            }
        };
        if (chosen) {
            for (const std::size_t member : chosen->members) {
                add(samples[member]);
            }
            if (!chosen->mainFound) {
                // The main thread's rollout is older than the newest ones: looked up by its name.
                if (const auto main = threads_->findRollout(chosen->mainThread,
                                                            {sessions_, archived_}, kLookupEntries);
                    main && logTailIsText(*main, kSessionLines)) {
                    add(newestLogSamples({*main}, kSessionLines, parser,
                                         &CodexAdapter::readSessionLine, now)
                            .front());
                }
            }
        }
        LogSamples result;
        if (quotaFile) {
            result.limits = samples[*quotaFile].limits;
        }
        result.tokens = std::move(sum);
        return result.merged();
    }
}

UsageReading CodexAdapter::read() const {
    UsageReading reading = readingOf(sessionCandidate(rollouts(1, kSessionFiles).recent, clock_()));
    if (!reading.row) {
        const Rollouts all = rollouts(kCountLimit, 0);
        if (all.sessionCount > 0 || all.archivedCount > 0 || existsAsNonDirectory(state_)) {
            reading.row =
                placeholderRow("Local Codex state detected; usage format not recognized yet");
        }
    }
    return reading;
}

AdapterDiagnostic CodexAdapter::inspect() const {
    AdapterDiagnostic diagnostic = diagnosticWith({
        "~/.codex/auth.json is intentionally ignored",
        "Read-only probe; raw Codex logs are not uploaded",
        "Only sanitized usage fields are collected",
    });
    const std::optional<std::filesystem::path> executable = findExecutable(kCommand, searchPaths_);
    const Rollouts sessions = rollouts(kCountLimit, kSessionFiles);
    const std::size_t sessionCount = sessions.sessionCount + sessions.archivedCount;
    const bool stateExists = existsAsNonDirectory(state_);
    const std::optional<SanitizedUsageCandidate> session =
        sessionCandidate(sessions.recent, clock_());

    diagnostic.cliInstalled = executable.has_value();
    diagnostic.usageSourceFound = sessionCount > 0 || stateExists;
    diagnostic.tokenDataFound = session && session->hasTokenData();
    diagnostic.limitDataFound = session && session->hasLimitData();
    settleDiagnostic(
        diagnostic,
        {
            {diagnostic.limitDataFound, tracking::withQuota,
             diagnostic.tokenDataFound ? "Limit and token data ready" : "Limit data ready"},
            {diagnostic.tokenDataFound, tracking::withoutQuota,
             "Token data only; limit data missing",
             "Codex local session data exposed token counts, but no rate_limits fields were "
             "found."},
            {sessionCount > 0, tracking::parserNeedsSample,
             "Session logs found; usage format not recognized",
             "Codex session JSONL exists, but no recognized token_count or rate_limits fields "
             "were found."},
            {stateExists, tracking::noUsageData, "State database found; parser not enabled",
             "Korvo does not query Codex sqlite state for limits yet, and never reads auth.json."},
            {diagnostic.cliInstalled, tracking::cliOnly, "CLI installed; no usage source found",
             "Codex CLI is installed, but Korvo did not find session JSONL or state data."},
        },
        "No local Codex source found");

    diagnostic.checkedPaths = {
        commandCheckLine(kCommand, executable),
        displayPath(sessions_, home_) +
            (sessions.sessionCount > 0 ? " - found, " : " - missing, ") +
            std::to_string(sessions.sessionCount) + " jsonl files",
        displayPath(state_, home_) + (stateExists ? " - found" : " - missing"),
    };
    if (sessions.archivedCount > 0) {
        diagnostic.checkedPaths.push_back(displayPath(archived_, home_) + " - found, " +
                                          std::to_string(sessions.archivedCount) + " jsonl files");
    }
    return diagnostic;
}

} // namespace korvo
