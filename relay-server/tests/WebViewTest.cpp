#include "SnapshotView.h"
#include "WebPage.h"
#include "model/SnapshotJson.h"
#include "support/TestSnapshot.h"

#include <gtest/gtest.h>
#include <simdjson.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using relayserver::snapshotViewJson;
using relayserver::webPageAnswer;

const Instant kNow = instantFromUnixSeconds(1'800'000'000);

// The members of a JSON object as text (numbers in their shortest form); "" for absent ones.
std::map<std::string, std::string> members(simdjson::dom::object object) {
    std::map<std::string, std::string> out;
    for (auto [key, value] : object) {
        std::string_view text;
        double number = 0;
        if (value.get_string().get(text) == simdjson::SUCCESS) {
            out[std::string(key)] = std::string(text);
        } else if (value.get_double().get(number) == simdjson::SUCCESS) {
            out[std::string(key)] = jsonNumber(number);
        }
    }
    return out;
}

ProviderUsage row(std::string name, ProviderStatus status, UsageMetrics usage,
                  std::optional<UsageWindow> window) {
    return {"id-" + name, name,     SourceType::localCli, Confidence::cliReported, status, window,
            usage,        kNow - 1h};
}

// Each row of the view carries the texts the desktop row shows, computed against the relay's
// clock; a missing figure leaves its member out rather than inventing one.
TEST(SnapshotViewTest, RowsCarryTheDesktopTexts) {
    using M = std::map<std::string, std::string>;
    const std::pair<ProviderUsage, M> cases[] = {
        {row("Codex CLI", ProviderStatus::warning, {63.5, 36.5, 120000, 18000, 50000, 3.42, {}},
             UsageWindow{UsageWindowKind::weekly, "", std::nullopt, kNow + 2h}),
         {{"id", "id-Codex CLI"},
          {"title", "Codex CLI"},
          {"subtitle", "Local CLI · CLI reported"},
          {"status", "warning"},
          {"statusText", "Warning"},
          {"remaining", "37%"},
          {"figureCaption", "remaining"},
          {"gauge", "36.5"},
          {"used", "Used 64%"},
          {"window", "Window Weekly"},
          {"reset", "Reset in 2 h"},
          {"resetAt", "2027-01-15T10:00:00Z"},
          {"lowest", "36.5"},
          {"lowestWindow", ""},
          {"details", "Input 120,000 · Output 18,000 · Cached 50,000 · Cost $3.42"}}},
        {row("Gemini", ProviderStatus::unknown, {{}, {}, {}, {}, {}, {}, "18% remaining"},
             std::nullopt),
         {{"id", "id-Gemini"},
          {"title", "Gemini"},
          {"subtitle", "Local CLI · CLI reported"},
          {"status", "unknown"},
          {"statusText", "Unknown"},
          {"remaining", "18% remaining"},
          {"figureCaption", ""},
          {"window", "Window Unknown"}}},
        // A second window travels as text; the view carries it as a window of its own, with
        // its absolute reset for the page to write on the phone's clock.
        {row("Claude Code", ProviderStatus::ok,
             {30, 70, {}, {}, {}, {}, "7d 40% remaining · 60% used · resets 2027-01-18T08:00:00Z"},
             UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, kNow + 100min}),
         {{"id", "id-Claude Code"},
          {"title", "Claude Code"},
          {"subtitle", "Local CLI · CLI reported"},
          {"status", "ok"},
          {"statusText", "Ok"},
          {"remaining", "70%"},
          {"figureCaption", "remaining"},
          {"gauge", "70"},
          {"used", "Used 30%"},
          {"window", "Window 5h"},
          {"reset", "Reset in 1 h 40 min"},
          {"resetAt", "2027-01-15T09:40:00Z"},
          {"lowest", "40"},
          {"lowestWindow", "7-day"}}},
        // A first window well within its limit beside a weekly one nearly used up: the row
        // reads as the weekly one, as the desktop's does.
        {row("Codex", ProviderStatus::ok,
             {45, 55, {}, {}, {}, {}, "Weekly 3% remaining · 97% used"},
             UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, kNow + 100min}),
         {{"id", "id-Codex"},
          {"title", "Codex"},
          {"subtitle", "Local CLI · CLI reported"},
          {"status", "critical"},
          {"statusText", "Critical"},
          {"remaining", "55%"},
          {"figureCaption", "remaining"},
          {"gauge", "55"},
          {"used", "Used 45%"},
          {"window", "Window 5h"},
          {"reset", "Reset in 1 h 40 min"},
          {"resetAt", "2027-01-15T09:40:00Z"},
          {"lowest", "3"},
          {"lowestWindow", "Weekly"}}},
    };
    UsageSnapshot snapshot = test::testSnapshot("ss_1");
    snapshot.providers.clear();
    for (const auto& [provider, expected] : cases) {
        snapshot.providers.push_back(provider);
    }
    const auto view = snapshotViewJson(encodeSnapshot(snapshot).value(), "ignored", kNow);
    ASSERT_TRUE(view);
    simdjson::dom::parser parser;
    simdjson::dom::array rows = parser.parse(*view)["providers"].get_array();
    ASSERT_EQ(rows.size(), std::size(cases));
    std::size_t index = 0;
    for (auto element : rows) {
        EXPECT_EQ(members(element.get_object()), cases[index++].second);
    }
    simdjson::dom::object second = rows.at(2)["second"].get_object();
    EXPECT_EQ(members(second), (M{{"name", "7-day"},
                                  {"remaining", "40%"},
                                  {"gauge", "40"},
                                  {"status", "ok"},
                                  {"resetAt", "2027-01-18T08:00:00Z"},
                                  {"reset", "Resets Mon 08:00"}}));
}

// The machine line: the snapshot's device name and its age by the relay's clock; before the
// first upload the name the machine paired under; a stored body that no longer decodes is
// refused rather than shown half.
TEST(SnapshotViewTest, MachineNameAndUpdateLine) {
    const auto at = [](Instant updatedAt, std::string name) {
        UsageSnapshot s = test::testSnapshot("ss_1");
        s.updatedAt = updatedAt;
        s.device.name = std::move(name);
        return std::optional(encodeSnapshot(s).value());
    };
    const std::string hostile = "<img src=x onerror=\"alert(1)\">\xff\"\\";
    const std::tuple<std::optional<std::string>, std::string, std::string> cases[] = {
        {at(kNow - 3min, "build box"), "build box", "Updated 3 minutes ago"},
        // A connector whose clock runs ahead is not shown as updated in the future.
        {at(kNow + 40s, "build box"), "build box", "Updated just now"},
        {at(kNow - 3min, ""), "Paired Name", "Updated 3 minutes ago"},
        {at(kNow, hostile), "<img src=x onerror=\"alert(1)\">\xef\xbf\xbd\"\\", "Updated just now"},
        {std::nullopt, "Paired Name", "No upload yet"},
    };
    for (const auto& [snapshot, machine, updated] : cases) {
        const auto view = snapshotViewJson(snapshot, "Paired Name", kNow);
        ASSERT_TRUE(view) << updated;
        simdjson::dom::parser parser;
        const auto fields = members(parser.parse(*view).get_object());
        EXPECT_EQ(fields.at("machine"), machine);
        EXPECT_EQ(fields.at("updatedText"), updated);
    }
    EXPECT_FALSE(snapshotViewJson(std::string(R"({"schemaVersion":1})"), "x", kNow));
}

// The page's files by path; an unchanged file costs only a 304, and every answer carries the
// security headers.
TEST(WebPageTest, FilesByPathRevalidatedByContentHash) {
    const std::tuple<std::string, std::optional<std::string>> cases[] = {
        {"/", "text/html; charset=utf-8"},
        {"/pair", "text/html; charset=utf-8"},
        {"/index.html", "text/html; charset=utf-8"},
        {"/app.js", "text/javascript; charset=utf-8"},
        {"/sw.js", "text/javascript; charset=utf-8"},
        {"/app.css", "text/css; charset=utf-8"},
        {"/manifest.webmanifest", "application/manifest+json"},
        {"/icon-192.png", "image/png"},
        {"/icon.svg", "image/svg+xml"},
        {"/pair/", std::nullopt},
        {"/../index.html", std::nullopt},
        {"/APP.JS", std::nullopt},
        {"/health", std::nullopt},
    };
    for (const auto& [path, type] : cases) {
        const auto page = webPageAnswer(path, "");
        ASSERT_EQ(page.has_value(), type.has_value()) << path;
        if (!page) {
            continue;
        }
        EXPECT_EQ(page->contentType, *type) << path;
        EXPECT_EQ(page->status, 200);
        EXPECT_FALSE(page->body.empty());
        std::map<std::string_view, std::string_view> headers(page->headers.begin(),
                                                             page->headers.end());
        EXPECT_EQ(headers["x-content-type-options"], "nosniff");
        EXPECT_EQ(headers["referrer-policy"], "no-referrer");
        EXPECT_NE(headers["content-security-policy"].find("script-src 'self';"),
                  std::string_view::npos);
        const auto again = webPageAnswer(path, headers["etag"]);
        EXPECT_EQ(again->status, 304) << path;
        EXPECT_TRUE(again->body.empty());
        EXPECT_EQ(webPageAnswer(path, "\"stale\"")->status, 200);
    }
    // The page loads nothing that the policy would block: no inline script or style.
    const std::string html(webPageAnswer("/", "")->body);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_EQ(html.find("style="), std::string::npos);
    EXPECT_EQ(html.find("<style"), std::string::npos);
}

} // namespace
} // namespace korvo
