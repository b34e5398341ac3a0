#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace korvo {

// korvo-connector is three programs, so that each command loads only what it needs:
//   korvo-connector          prints the version, runs the status-line hook and answers the
//                            common case of `snapshot` without Qt, and hands everything else
//                            over;
//   korvo-connector-cli      the headless commands (Qt Core, Network and D-Bus, no GUI);
//   korvo-connector-desktop  the tray icon and the window (no command given).
// The two others sit next to korvo-connector in a build tree and under libexec once installed.

/// Through this environment variable the programs handed over to learn the path of the
/// korvo-connector that started them: the login item must start that one, not them.
inline constexpr const char* kLauncherPathVariable = "KORVO_CONNECTOR_LAUNCHER";

/// The program `name` that belongs to the korvo-connector at `launcher`, when it exists.
std::optional<std::filesystem::path> companionProgram(const std::filesystem::path& launcher,
                                                      std::string_view name);

/// Replaces this process with the companion program `name`, passing `argv` on. Returns only on
/// failure, after printing why, with the exit code to use.
int handOverTo(std::string_view name, char** argv);

} // namespace korvo
