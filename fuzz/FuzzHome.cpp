#include "FuzzHome.h"

#include <fstream>

namespace korvo::test {
namespace {

constexpr std::size_t kMaxDepth = 8;
constexpr std::size_t kMaxPartLength = 64;

void writeFile(const std::filesystem::path& file, std::string_view contents) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

} // namespace

void FuzzHome::clear() {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
    std::filesystem::create_directories(home_, ignored);
    environment_.clear();
}

std::filesystem::path FuzzHome::inside(std::string_view relative) const {
    std::filesystem::path path = home_;
    std::size_t depth = 0;
    while (!relative.empty() && depth < kMaxDepth) {
        const std::size_t slash = relative.find('/');
        std::string_view part = relative.substr(0, slash);
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
        part = part.substr(0, kMaxPartLength);
        if (part.empty() || part == "." || part == ".." ||
            part.find('\0') != std::string_view::npos) {
            continue;
        }
        path /= std::string(part);
        ++depth;
    }
    return path;
}

std::filesystem::path FuzzHome::writeOnly(std::string_view relative, std::string_view contents) {
    clear();
    const auto file = inside(relative);
    writeFile(file, contents);
    return file;
}

void FuzzHome::fill(std::string_view input) {
    clear();
    std::size_t at = input.starts_with("@@") ? 0 : input.find("\n@@");
    while (at != std::string_view::npos) {
        if (input[at] == '\n') {
            ++at;
        }
        const std::size_t lineEnd = input.find('\n', at);
        const std::string_view header = input.substr(at, lineEnd - at);
        const std::size_t next =
            lineEnd == std::string_view::npos ? lineEnd : input.find("\n@@", lineEnd);
        const std::string_view body =
            lineEnd == std::string_view::npos
                ? std::string_view()
                : input.substr(lineEnd + 1, next == std::string_view::npos ? std::string_view::npos
                                                                           : next - lineEnd - 1);
        std::error_code ignored;
        if (header.starts_with("@@/ ")) {
            std::filesystem::create_directories(inside(header.substr(4)), ignored);
        } else if (header.starts_with("@@> ") || header.starts_with("@@= ")) {
            const std::string_view rest = header.substr(4);
            const std::size_t equals = rest.find('=');
            if (equals != std::string_view::npos) {
                const auto target = inside(rest.substr(equals + 1));
                if (header[2] == '>') {
                    const auto link = inside(rest.substr(0, equals));
                    std::filesystem::create_directories(link.parent_path(), ignored);
                    std::filesystem::create_symlink(target, link, ignored);
                } else {
                    environment_[std::string(rest.substr(0, equals))] = target.string();
                }
            }
        } else if (header.starts_with("@@ ")) {
            writeFile(inside(header.substr(3)), body);
        }
        at = next;
    }
}

} // namespace korvo::test
