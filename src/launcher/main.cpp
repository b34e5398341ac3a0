// korvo-connector: the program users and scripts start. The version, the Claude Code status-line
// hook (which runs on every refresh of the status line) and the common case of `snapshot` are
// answered here without Qt; a command goes to korvo-connector-cli, no command to
// korvo-connector-desktop.

#include "statusline/ClaudeStatusLine.h"
#include "model/HomeDirectory.h"
#include "launcher/ProgramHandOver.h"
#include "launcher/QuickSnapshot.h"
#include "launcher/VersionText.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc == 1) {
        return korvo::handOverTo("korvo-connector-desktop", argv);
    }
    const std::string_view first = argv[1];
    if (argc == 2 && (first == "--version" || first == "-version")) {
        std::fputs(korvo::versionText().c_str(), stdout);
        return 0;
    }
    // The hook exits 0 whatever its input, so Claude Code's status line never breaks.
    if (argc == 2 && first == "claude-statusline") {
        std::signal(SIGPIPE, SIG_IGN);
        korvo::runClaudeStatusLine(STDIN_FILENO, std::cout, korvo::homeDirectory(),
                                   korvo::systemClock());
        return 0;
    }
    if (argc == 2 && first == "snapshot") {
        if (const auto text = korvo::quickSnapshot(
                {korvo::homeDirectory(), korvo::processEnvironment(), korvo::systemClock()})) {
            std::fwrite(text->data(), 1, text->size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return korvo::handOverTo("korvo-connector-cli", argv);
}
