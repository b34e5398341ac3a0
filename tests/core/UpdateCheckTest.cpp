#include "CoreTestSupport.h"
#include "core/UpdateManifest.h"

namespace korvo {
namespace {

TEST(UpdateManifestTest, BuildDecidesFirstThenVersion) {
    // Manifest version and build, running version and build, whether it is an update.
    const std::tuple<const char*, const char*, const char*, const char*, bool> cases[] = {
        {"1.0.0", "42", "9.9.9", "41", true},  // a newer build wins whatever the versions
        {"2.0.0", "41", "1.0.0", "42", false}, // an older build loses whatever the versions
        {"1.10", "42", "1.9", "42", true},     // numeric components, not text
        {"1.2.0", "42", "1.2", "42", false},   // a missing component counts as 0
        {"1.2.1", "42", "1.2", "42", true},
        {"1.0", "10a", "1.0", "2a", true},                     // not whole numbers: natural order
        {"1.0", "+7", "1.0", "6", true},                       // a sign is allowed
        {"1.0", "007", "1.0", "7", false},                     // equal as integers, equal versions
        {"1.0", "B2", "1.0", "b2", false},                     // natural order ignores case
        {"v2 (beta 3)", "42", "2.0.2", "42", true},            // 2.3 > 2.0.2
        {"1.99999999999999999999.1", "1", "1.0.2", "1", true}, // too large: dropped -> 1.1
    };
    for (const auto& [version, build, runningVersion, runningBuild, available] : cases) {
        ConnectorDownloadManifest manifest;
        manifest.version = QString::fromUtf8(version);
        manifest.build = QString::fromUtf8(build);
        EXPECT_EQ(isUpdateAvailable(manifest, QString::fromUtf8(runningVersion),
                                    QString::fromUtf8(runningBuild)),
                  available)
            << version << " (" << build << ") against " << runningVersion << " (" << runningBuild
            << ")";
    }
}

TEST(UpdateManifestTest, DecodingIsStrictAboutRequiredMembers) {
    // The document; nothing when it does not decode, else its size in bytes (0: none).
    const std::pair<QByteArray, std::optional<qint64>> cases[] = {
        {R"({"version":"1.4.0","build":"42","channel":"release","file":"a.tar.gz"})", 0},
        {R"({"version":"1","build":"2","channel":"c","file":"f","updatedAt":7})", {}},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":null,"updatedAt":null})",
         0},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":12.0})", 12},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":12.5})", {}},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":"12"})", {}},
        {R"({"version":"1","build":42,"channel":"c","file":"f"})", {}},
        {R"({"version":"1","build":"2","channel":"c"})", {}},
        {"<html>not found</html>", {}},
    };
    for (const auto& [json, size] : cases) {
        const auto manifest = decodeDownloadManifest(json);
        EXPECT_EQ(manifest ? std::optional(manifest->sizeBytes.value_or(0)) : std::nullopt, size)
            << json.toStdString();
    }
    // The file resolves against the manifest's folder (query left out); no name, no download.
    const QUrl manifest(u"https://example.com/download/linux/manifest.json?x=1"_s);
    EXPECT_EQ(resolveDownloadFile(u"builds/k.deb"_s, manifest),
              QUrl(u"https://example.com/download/linux/builds/k.deb"_s));
    EXPECT_EQ(resolveDownloadFile(QString(), manifest), std::nullopt);
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override { h_.pointAt(server_.url()); }
    void serveManifest(int status, const QByteArray& body) {
        server_.answer("GET /download/linux/manifest.json", status, body);
    }
    static QByteArray manifest(const char* version, const char* build) {
        return QByteArray(R"({"version":")") + version + R"(","build":")" + build +
               R"(","channel":"release","file":"korvo.tar.gz","sizeBytes":2048,)"
               R"("updatedAt":"2026-03-01T09:00:00Z"})";
    }

    test::ModelHarness h_;
    test::CannedRelay server_;
};

TEST_F(UpdateCheckTest, ChecksInSequenceWithFailuresAndTheSilentFlag) {
    // One model through a sequence of checks: a silent failure keeps the last good status.
    const std::tuple<int, QByteArray, bool, const char*> steps[] = {
        {404, R"({"error":"not found"})", true, "Unable to check updates"},
        {200, manifest("1.4.0", "42"), true, "Up to date: 1.4.0 (42)"},
        {404, R"({"error":"not found"})", true, "Up to date: 1.4.0 (42)"},
        {200, manifest("1.3.0", "41"), false, "Up to date: 1.4.0 (42)"}, // the running build
        {200, "not json", true, "Up to date: 1.4.0 (42)"},
        {500, {}, false, "Unable to check updates"},
        {200, manifest("1.5.0", "43"), true, "Update available: 1.5.0 (43)"},
        {404, {}, false, "Unable to check updates"},
    };
    ConnectorModel& m = h_.make();
    for (const auto& [status, body, silent, expected] : steps) {
        serveManifest(status, body);
        h_.clock.advance(60s);
        test::finish(m.checkForUpdates(silent));
        EXPECT_EQ(m.updateStatus(), expected);
        EXPECT_EQ(m.lastUpdateCheckAt(), h_.clock.now()) << expected;
        EXPECT_FALSE(m.isCheckingForUpdates());
    }
    // A failed check leaves the known update in place, with its download links.
    const QUrl page = server_.url(u"/download/linux/"_s);
    EXPECT_EQ(m.updateInfo(),
              (ConnectorUpdateInfo{"1.5.0", "43", "release", 2048, u"2026-03-01T09:00:00Z"_s, page,
                                   page.resolved(QUrl(u"korvo.tar.gz"_s))}));
    m.openDownloadPage();
    EXPECT_EQ(h_.urlOpener->urls, QList<QUrl>{page});
}

TEST_F(UpdateCheckTest, AVisibleCheckShowsCheckingAndASecondCheckReturnsAtOnce) {
    serveManifest(200, manifest("0", "0"));
    h_.options.buildInfo = BuildInfo{}; // a build without version information counts as 0 (0)
    ConnectorModel& m = h_.make();
    auto first = m.checkForUpdates(false);
    EXPECT_EQ(m.updateStatus(), "Checking");
    EXPECT_TRUE(m.isCheckingForUpdates());
    EXPECT_TRUE(m.checkForUpdates(false).isReady());
    test::finish(std::move(first));
    EXPECT_EQ(server_.count("GET /download/"), 1);
    EXPECT_EQ(m.updateStatus(), "Up to date: 0 (0)");
    EXPECT_FALSE(m.updateInfo().has_value());
}

} // namespace
} // namespace korvo
