#include "SnapshotValidation.h"

#include "model/SnapshotJson.h"
#include "support/TestSnapshot.h"

#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using relayserver::validateUploadedSnapshot;

TEST(SnapshotValidationTest, ContentsAreBoundedAndDisplayable) {
    const struct {
        const char* name;
        std::function<void(UsageSnapshot&)> change;
        const char* problem; // "" when accepted
    } cases[] = {
        {"as a connector sends it", [](UsageSnapshot&) {}, ""},
        {"a long but bounded name with accents and emoji",
         [](UsageSnapshot& s) { s.device.name = "Bü€ld 🖥 " + std::string(180, 'x'); }, ""},
        {"percentages at the bounds",
         [](UsageSnapshot& s) {
             s.providers[0].usage.usedPercent = 100;
             s.providers[0].usage.remainingPercent = 0;
         },
         ""},
        {"64 providers", [](UsageSnapshot& s) { s.providers.resize(64, s.providers[0]); }, ""},
        {"a 900 KB device name",
         [](UsageSnapshot& s) { s.device.name = std::string(900'000, 'a'); },
         "Snapshot device.name is longer than 200 bytes"},
        {"a NUL in the device name",
         [](UsageSnapshot& s) { s.device.name = std::string("a\0b", 3); },
         "Snapshot device.name contains a control or bidirectional formatting character"},
        {"an escape sequence in a display name",
         [](UsageSnapshot& s) { s.providers[0].displayName = "\x1b[31mCodex"; },
         "Snapshot providers[0].displayName contains a control or bidirectional formatting "
         "character"},
        {"a right-to-left override in a label",
         [](UsageSnapshot& s) {
             s.providers[0].window = UsageWindow{UsageWindowKind::daily, "5h \u202e", {}, {}};
         },
         "Snapshot providers[0].window.label contains a control or bidirectional formatting "
         "character"},
        {"an isolate in the remaining text",
         [](UsageSnapshot& s) { s.providers[0].usage.remainingText = "\u2067 left"; },
         "Snapshot providers[0].usage.remainingText contains a control or bidirectional "
         "formatting character"},
        {"a C1 control in the provider id",
         [](UsageSnapshot& s) { s.providers[0].id = "codex\u0085"; },
         "Snapshot providers[0].id contains a control or bidirectional formatting character"},
        {"remainingPercent 1e308",
         [](UsageSnapshot& s) { s.providers[0].usage.remainingPercent = 1e308; },
         "Snapshot providers[0].usage.remainingPercent is not a percentage within 0 and 100"},
        {"usedPercent just over 100",
         [](UsageSnapshot& s) { s.providers[0].usage.usedPercent = 100.5; },
         "Snapshot providers[0].usage.usedPercent is not a percentage within 0 and 100"},
        {"a negative percentage", [](UsageSnapshot& s) { s.providers[0].usage.usedPercent = -3; },
         "Snapshot providers[0].usage.usedPercent is not a percentage within 0 and 100"},
        {"a negative token count", [](UsageSnapshot& s) { s.providers[0].usage.inputTokens = -1; },
         "Snapshot providers[0].usage.inputTokens is not a finite, non-negative number within "
         "1e15"},
        {"a huge cost", [](UsageSnapshot& s) { s.providers[0].usage.costUsd = 1e300; },
         "Snapshot providers[0].usage.costUsd is not a finite, non-negative number within 1e15"},
        {"65 providers", [](UsageSnapshot& s) { s.providers.resize(65, s.providers[0]); },
         "Snapshot providers has more than 64 entries"},
        {"a long snapshot id", [](UsageSnapshot& s) { s.snapshotId = std::string(201, 's'); },
         "Snapshot snapshotId is longer than 200 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UsageSnapshot snapshot = test::testSnapshot("ss_1");
        c.change(snapshot);
        const auto body = encodeSnapshot(snapshot);
        ASSERT_TRUE(body.ok());
        std::string id;
        const auto problem = validateUploadedSnapshot(body.value(), "ss_1", "CONNECTOR-1", id);
        EXPECT_EQ(problem.value_or(""), c.problem);
        EXPECT_EQ(id, problem ? "" : snapshot.snapshotId);
    }
}

} // namespace
} // namespace korvo
