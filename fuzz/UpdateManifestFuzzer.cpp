// The update manifest, fetched from the download site: decoding it, resolving its file against
// the manifest's URL and comparing its version and build with the running ones.

#include "FuzzSupport.h"
#include "core/UpdateManifest.h"

using namespace korvo;

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto manifest = decodeDownloadManifest(json);
    if (!manifest) {
        return 0;
    }
    const QUrl base(QStringLiteral("https://relay.korvo.app/download/linux/manifest.json"));
    const auto file = resolveDownloadFile(manifest->file, base);
    test::expect(!file || file->isValid(), "a resolved file is a valid URL");
    isUpdateAvailable(*manifest, QStringLiteral("1.2.3"), QStringLiteral("45"));
    test::expect(!isUpdateAvailable(*manifest, manifest->version, manifest->build),
                 "a build is no update of itself");
    // The comparisons are orders: antisymmetric, and every value equals itself.
    for (const auto& [a, b] : {std::pair{manifest->version, QStringLiteral("1.2.3")},
                               std::pair{manifest->build, QStringLiteral("45")},
                               std::pair{manifest->version, manifest->build}}) {
        test::expect(sign(compareVersions(a, b)) == -sign(compareVersions(b, a)),
                     "versions antisymmetric");
        test::expect(sign(compareBuilds(a, b)) == -sign(compareBuilds(b, a)),
                     "builds antisymmetric");
        test::expect(sign(compareNatural(a, b)) == -sign(compareNatural(b, a)),
                     "natural order antisymmetric");
        test::expect(compareVersions(a, a) == 0 && compareBuilds(a, a) == 0 &&
                         compareNatural(a, a) == 0,
                     "every value equals itself");
    }
    return 0;
}
