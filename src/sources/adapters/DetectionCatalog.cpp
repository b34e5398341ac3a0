#include "sources/adapters/DetectionCatalog.h"

#include <string>

namespace korvo {

std::filesystem::path temporaryDirectory(const Environment& environment) {
    if (environment) {
        if (auto value = environment("TMPDIR"); value && !value->empty()) {
            return *value;
        }
    }
    return "/tmp";
}

std::vector<std::shared_ptr<const GenericCliDetectionAdapter>>
detectionCatalog(const std::filesystem::path& home,
                 const std::vector<std::filesystem::path>& searchPaths,
                 const std::filesystem::path& temporaryDirectory) {
    const std::string notFound = "Not found";
    const auto inHome = [&](const char* relative, PathKind kind) {
        return LocalPath{home / relative, std::string("~/") + relative, kind};
    };
    const auto entry = [&](std::string id, std::string name, std::vector<std::string> commands,
                           std::vector<LocalPath> paths, std::string capability,
                           std::vector<std::string> warnings) {
        return std::make_shared<const GenericCliDetectionAdapter>(
            std::move(id), std::move(name), std::move(commands), std::move(paths),
            std::move(capability), notFound, std::move(warnings), searchPaths);
    };
    return {
        entry("amazon-q-cli", "Amazon Q CLI", {"q"},
              {LocalPath{temporaryDirectory / "qlog", "$TMPDIR/qlog", PathKind::directory}},
              "Detected; diagnostics only",
              {"Amazon Q logs may contain prompts, paths, code, command output, or account "
               "identifiers",
               "Detection only for now; raw Amazon Q logs are never uploaded"}),
        entry("cursor-cli", "Cursor CLI", {"cursor", "cursor-agent"},
              {inHome(".cursor", PathKind::directory)}, "Detected; presence only",
              {"Cursor usage is usually account/dashboard based",
               "Detection only for now; no Cursor usage snapshot is uploaded"}),
        entry("windsurf", "Windsurf", {"windsurf"},
              {inHome(".codeium", PathKind::directory), inHome(".windsurf", PathKind::directory)},
              "Detected; presence only",
              {"Windsurf/Cascade usage is usually app/account based",
               "Detection only for now; no Windsurf usage snapshot is uploaded"}),
        entry("aider", "Aider", {"aider"},
              {inHome(".aider.conf.yml", PathKind::file), inHome(".aider", PathKind::directory)},
              "Detected; API/BYOK usage only",
              {"Aider usage depends on the configured model provider",
               "Detection only for now; API keys and provider credentials are never read"}),
        entry("goose", "Goose", {"goose"}, {inHome(".config/goose/config.yaml", PathKind::file)},
              "Detected; cost display may be available locally",
              {"Goose secrets files are intentionally ignored",
               "Detection only for now; API keys and provider credentials are never read"}),
        entry("opencode", "OpenCode", {"opencode"},
              {inHome(".config/opencode", PathKind::directory),
               inHome(".local/share/opencode", PathKind::directory)},
              "Detected; local usage parser can be added",
              {"Detection only for now; no OpenCode usage snapshot is uploaded",
               "Future parsing must avoid provider auth files and raw prompts"}),
        entry("continue", "Continue CLI", {"cn", "continue"},
              {inHome(".continue", PathKind::directory)}, "Detected; presence only",
              {"Continue usage depends on configured model provider",
               "Detection only for now; API keys and provider credentials are never read"}),
    };
}

} // namespace korvo
