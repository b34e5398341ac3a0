#pragma once

// Shared by the source tests: one-line renderings of what adapters report so that tables can
// state it whole, and the table-driven runs of adapters over homes (support/TestHome.h).

#include "model/Clock.h"
#include "model/SnapshotJson.h"
#include "model/TimeText.h"
#include "sources/AdapterDiagnostic.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/Environment.h"
#include "support/TestHome.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo::test {

/// True when the process can read files whatever their mode (running as root).
inline bool modesAreIgnored() {
    return ::geteuid() == 0;
}

/// Named values on one line, each only when present: "in=3 label=5h".
struct FieldText {
    std::string text;

    template <class T> FieldText& add(const char* name, const std::optional<T>& value) {
        if (value) {
            text += (text.empty() ? "" : " ") + std::string(name) + "=" + shown(*value);
        }
        return *this;
    }
    static std::string shown(double value) { return jsonNumber(value); }
    /// An internet date-time, with milliseconds when there are any.
    static std::string shown(Instant value) {
        std::string text = formatInternetDateTime(value);
        const auto ms = std::chrono::floor<std::chrono::milliseconds>(value) -
                        std::chrono::floor<std::chrono::seconds>(value);
        if (ms.count() != 0) {
            text.insert(text.size() - 1, "." + std::to_string(1000 + ms.count()).substr(1));
        }
        return text;
    }
    static std::string shown(const std::string& value) { return value; }
    static std::string shown(ProviderStatus value) { return std::string(rawValue(value)); }
    static std::string shown(UsageWindowKind value) { return std::string(rawValue(value)); }
    /// A parsed value as text, "none" when absent.
    template <class T> static std::string shown(const std::optional<T>& value) {
        return value ? shown(*value) : "none";
    }
    static std::optional<std::string> bracketed(const std::optional<std::string>& value) {
        return value ? std::optional("[" + *value + "]") : std::nullopt;
    }
};

/// A candidate on one line, or "none".
inline std::string candidateText(const std::optional<SanitizedUsageCandidate>& c) {
    if (!c) {
        return "none";
    }
    FieldText t;
    t.add("used", c->usedPercent).add("left", c->remainingPercent).add("in", c->inputTokens);
    t.add("out", c->outputTokens).add("cached", c->cachedInputTokens).add("cost", c->costUsd);
    t.add("text", FieldText::bracketed(c->remainingText)).add("resets", c->resetAt);
    return t.add("label", c->windowLabel).add("status", c->status).add("at", c->observedAt).text;
}

/// A row on one line: status, confidence, the numbers present, the window, the text and the time.
inline std::string rowText(const std::optional<ProviderUsage>& row) {
    if (!row) {
        return "none";
    }
    const UsageMetrics& u = row->usage;
    FieldText t;
    t.add("used", u.usedPercent).add("left", u.remainingPercent).add("in", u.inputTokens);
    t.add("out", u.outputTokens).add("cached", u.cachedInputTokens).add("cost", u.costUsd);
    const UsageWindow w = row->window.value_or(UsageWindow{});
    t.add("window", row->window ? std::nullopt : std::optional<std::string>("none"));
    t.add("kind", w.kind == UsageWindowKind::unknown ? std::nullopt : std::optional(w.kind));
    t.add("label", w.label).add("starts", w.startedAt).add("resets", w.resetAt);
    t.add("text", FieldText::bracketed(u.remainingText)).add("at", std::optional(row->observedAt));
    return std::string(rawValue(row->status)) + " " + std::string(rawValue(row->confidence)) + " " +
           t.text;
}

enum LadderFlag : unsigned { kCli = 1, kSource = 2, kTokens = 4, kLimits = 8 };

/// One rung of an adapter's diagnostic ladder. In checkedPaths, "BIN/" stands for the home's
/// bin folder, the only command directory the tests search.
struct Ladder {
    std::string tracking;
    std::string summary;
    std::optional<std::string> whyNoQuota;
    unsigned flags = 0;
    std::vector<std::string> checkedPaths;
};

/// A home, built by TestHome::build, and the rung its adapter must report.
struct LadderCase {
    std::string name;
    std::vector<std::string> home;
    Ladder expected;
};

inline LadderCase rung(std::string name, std::vector<std::string> home, std::string tracking,
                       std::string summary, std::optional<std::string> whyNoQuota, unsigned flags,
                       std::vector<std::string> checkedPaths) {
    return {std::move(name), std::move(home),
            Ladder{std::move(tracking), std::move(summary), std::move(whyNoQuota), flags,
                   std::move(checkedPaths)}};
}

inline void expectLadder(const AdapterDiagnostic& d, const Ladder& e,
                         const std::filesystem::path& home) {
    EXPECT_EQ(d.trackingStatus, e.tracking);
    EXPECT_EQ(d.summary, e.summary);
    EXPECT_EQ(d.whyNoQuota, e.whyNoQuota);
    EXPECT_EQ(d.cliInstalled, (e.flags & kCli) != 0);
    EXPECT_EQ(d.usageSourceFound, (e.flags & kSource) != 0);
    EXPECT_EQ(d.tokenDataFound, (e.flags & kTokens) != 0);
    EXPECT_EQ(d.limitDataFound, (e.flags & kLimits) != 0);
    EXPECT_EQ(d.canUploadProvider, (e.flags & (kTokens | kLimits)) != 0);
    EXPECT_EQ(d.isAvailable, (e.flags & (kCli | kSource)) != 0);
    std::vector<std::string> expected;
    for (std::string line : e.checkedPaths) {
        if (const auto at = line.find("BIN/"); at != std::string::npos) {
            line.replace(at, 4, (home / "bin").string() + "/");
        }
        expected.push_back(line);
    }
    EXPECT_EQ(d.checkedPaths, expected);
}

/// A home, the row its adapter reads there and, when `home.expected` has a tracking text, the
/// rung it reports.
struct RowCase {
    LadderCase home;
    std::string row;
};

/// Runs each case in a fresh home with the adapter `make(homePath)` returns. Its diagnostic and
/// every row found must carry `idAndName` ("id / name"); rows come from a local command-line
/// tool. `warnings`, when given, are those of every diagnostic.
template <class Make>
void expectRowsAndRungs(const std::vector<RowCase>& cases, Make make, const std::string& idAndName,
                        const std::optional<std::vector<std::string>>& warnings) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home.name);
        TestHome home;
        home.build(c.home.home);
        const auto adapter = make(home.path());
        const auto row = adapter.readUsage().row;
        EXPECT_EQ(rowText(row), c.row);
        if (row) {
            EXPECT_EQ(row->id + " / " + row->displayName, idAndName);
            EXPECT_EQ(row->source, SourceType::localCli);
        }
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.id + " / " + d.displayName, idAndName);
        if (!c.home.expected.tracking.empty()) {
            expectLadder(d, c.home.expected, home.path());
        }
        if (warnings) {
            EXPECT_EQ(d.warnings, *warnings);
        }
    }
}

} // namespace korvo::test
