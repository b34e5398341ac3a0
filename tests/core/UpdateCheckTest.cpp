#include "core/UpdateManifest.h"
#include "support/ModelHarness.h"

#include <QElapsedTimer>
#include <QTcpServer>

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
        server_.setAnswer("GET /download/linux/manifest.json", status, body);
    }
    static QByteArray manifest(const char* version, const char* build,
                               const char* file = "korvo.tar.gz") {
        return QByteArray(R"({"version":")") + version + R"(","build":")" + build +
               R"(","channel":"release","file":")" + file +
               R"(","sizeBytes":2048,)"
               R"("updatedAt":"2026-03-01T09:00:00Z"})";
    }

    test::ModelHarness h_;
    test::CannedRelay server_;
};

TEST_F(UpdateCheckTest, ChecksInSequenceWithFailuresAndTheSilentFlag) {
    // One model through a sequence of checks: a silent failure keeps the last good status.
    const std::tuple<int, QByteArray, bool, const char*> steps[] = {
        {404, R"({"error":"not found"})", true,
         "Unable to check updates: the download site answered HTTP 404"},
        {200, manifest("1.4.0", "42"), true, "Up to date: 1.4.0 (42)"},
        {404, R"({"error":"not found"})", true, "Up to date: 1.4.0 (42)"},
        {200, manifest("1.3.0", "41"), false, "Up to date: 1.4.0 (42)"}, // the running build
        {200, "not json", true, "Up to date: 1.4.0 (42)"},
        {500, {}, false, "Unable to check updates: the download site answered HTTP 500"},
        {200, manifest("1.5.0", "43"), true, "Update available: 1.5.0 (43)"},
        {404, {}, false, "Unable to check updates: the download site answered HTTP 404"},
    };
    ConnectorModel& m = h_.make();
    for (const auto& [status, body, silent, expected] : steps) {
        serveManifest(status, body);
        h_.clock.advance(60s);
        test::finish(m.checkForUpdates(silent));
        EXPECT_EQ(updateStatusText(m.updateChecker().state()), expected);
        EXPECT_EQ(m.updateChecker().state().lastCheckAt, h_.clock.now()) << expected;
        EXPECT_FALSE(m.updateChecker().state().isChecking);
    }
    // A failed check leaves the known update in place, with its download links.
    const QUrl page = server_.url(u"/download/linux/"_s);
    EXPECT_EQ(m.updateChecker().state().info,
              (ConnectorUpdateInfo{"1.5.0", "43", "release", 2048, u"2026-03-01T09:00:00Z"_s, page,
                                   page.resolved(QUrl(u"korvo.tar.gz"_s))}));
}

TEST_F(UpdateCheckTest, AVisibleCheckShowsCheckingAndASecondCheckReturnsAtOnce) {
    serveManifest(200, manifest("0", "0"));
    h_.options.buildInfo = BuildInfo{}; // a build without version information counts as 0 (0)
    ConnectorModel& m = h_.make();
    auto first = m.checkForUpdates(false);
    EXPECT_EQ(updateStatusText(m.updateChecker().state()), "Checking");
    EXPECT_TRUE(m.updateChecker().state().isChecking);
    EXPECT_TRUE(m.checkForUpdates(false).isReady());
    test::finish(std::move(first));
    EXPECT_EQ(server_.count("GET /download/"), 1);
    EXPECT_EQ(updateStatusText(m.updateChecker().state()), "Up to date: 0 (0)");
    EXPECT_FALSE(m.updateChecker().state().info.has_value());
}

// The manifest's file is offered for download over https or from the relay's own origin (here
// the canned server, plain HTTP on loopback) only; anything else is left out.
TEST_F(UpdateCheckTest, DirectDownloadsAreHttpsOrOnTheRelaysOrigin) {
    // The relay's host and port under another scheme is another origin.
    const QByteArray otherScheme =
        u"ftp://127.0.0.1:%1/k.tar.gz"_s.arg(server_.url().port()).toUtf8();
    const std::pair<const char*, std::optional<QUrl>> cases[] = {
        {"korvo.tar.gz", server_.url(u"/download/linux/korvo.tar.gz"_s)},
        {otherScheme.constData(), std::nullopt},
        {"https://cdn.example.com/k.tar.gz", QUrl(u"https://cdn.example.com/k.tar.gz"_s)},
        {"http://cdn.example.com/k.tar.gz", std::nullopt},
        {"http://127.0.0.1:1/k.tar.gz", std::nullopt}, // the relay's host, another port
        {"javascript:alert(1)", std::nullopt},
        {"file:///etc/passwd", std::nullopt},
        {"ftp://cdn.example.com/k.tar.gz", std::nullopt},
    };
    ConnectorModel& m = h_.make();
    for (const auto& [file, expected] : cases) {
        serveManifest(200, manifest("1.5.0", "43", file));
        EXPECT_EQ(test::finish(m.checkForUpdates(false)), UpdateCheckOutcome::available);
        EXPECT_EQ(m.updateChecker().state().info.value_or(ConnectorUpdateInfo{}).directDownloadURL,
                  expected)
            << file;
    }
}

// A manifest answer past the cap is stopped while it arrives: the check fails at once instead of
// waiting for the rest (which never comes) until the time-out.
TEST_F(UpdateCheckTest, AnOversizedManifestIsStoppedWhileItArrives) {
    const QByteArray cases[] = {
        "HTTP/1.1 200 OK\r\ncontent-length: 419430400\r\n\r\n{",
        "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(300 * 1024, ' '),
    };
    for (const QByteArray& response : cases) {
        QTcpServer endless; // answers and keeps the connection open
        ASSERT_TRUE(endless.listen(QHostAddress::LocalHost));
        QObject::connect(&endless, &QTcpServer::newConnection,
                         [&] { endless.nextPendingConnection()->write(response); });
        h_.pointAt(QUrl(u"http://127.0.0.1:%1"_s.arg(endless.serverPort())));
        h_.options.manifestTimeout = 20s;
        ConnectorModel& m = h_.make();
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(test::finish(m.checkForUpdates(false)), UpdateCheckOutcome::failed);
        EXPECT_LT(elapsed.elapsed(), 5000) << response.left(40).toStdString();
    }
}

} // namespace
} // namespace korvo
