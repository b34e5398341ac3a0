#include "sources/adapters/CodexThreads.h"

#include "sources/fields/FieldExtraction.h"
#include "sources/io/FileReaders.h"

#include <sys/stat.h>
#include <system_error>

namespace korvo {
namespace {

std::optional<std::string> textMember(const simdjson::dom::object& object, std::string_view key) {
    std::string_view text;
    if (object[key].get_string().get(text) != simdjson::SUCCESS || text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

CodexThread readThread(simdjson::dom::parser& parser, const std::string& line) {
    CodexThread thread;
    simdjson::dom::object top;
    if (parser.parse(line.data(), line.size(), false).get(top) != simdjson::SUCCESS) {
        return thread;
    }
    std::string_view type;
    simdjson::dom::object meta;
    if (top["type"].get_string().get(type) != simdjson::SUCCESS || type != "session_meta" ||
        top["payload"].get(meta) != simdjson::SUCCESS) {
        return thread;
    }
    thread.id = textMember(meta, "id").value_or(std::string());
    // "source" is a word for a thread the user started ("cli", "vscode", "exec"), and an object
    // {"subagent": ...} for a subagent's: {"subagent": "review"} or, for a spawned agent,
    // {"subagent": {"thread_spawn": {"parent_thread_id": ...}}}.
    simdjson::dom::object source;
    simdjson::dom::element subagent;
    if (meta["source"].get(source) == simdjson::SUCCESS &&
        source["subagent"].get(subagent) == simdjson::SUCCESS) {
        thread.subagent = true;
        simdjson::dom::object kind;
        simdjson::dom::object spawn;
        if (subagent.get(kind) == simdjson::SUCCESS &&
            kind["thread_spawn"].get(spawn) == simdjson::SUCCESS) {
            thread.parentId = textMember(spawn, "parent_thread_id").value_or(std::string());
        }
    }
    // Newer builds also name the parent beside the source.
    if (thread.parentId.empty()) {
        if (auto parent = textMember(meta, "parent_thread_id")) {
            thread.parentId = std::move(*parent);
            thread.subagent = true;
        }
    }
    return thread;
}

} // namespace

CodexThread CodexThreads::identify(const std::filesystem::path& rollout, std::uintmax_t lineLimit) {
    const std::lock_guard lock(mutex_);
    struct stat info {};
    if (::stat(rollout.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        known_.erase(rollout);
        return {};
    }
    const auto device = static_cast<std::uintmax_t>(info.st_dev);
    const auto inode = static_cast<std::uintmax_t>(info.st_ino);
    if (const auto found = known_.find(rollout);
        found != known_.end() && found->second.device == device && found->second.inode == inode) {
        return found->second.thread;
    }
    const auto line = readFirstLine(rollout, lineLimit);
    if (!line && static_cast<std::uintmax_t>(info.st_size) <= lineLimit) {
        return {}; // not remembered: the line may still be being written
    }
    if (known_.size() >= kKept) {
        known_.clear();
    }
    // A first line longer than the limit names no thread that is read, now or later.
    CodexThread thread = line ? readThread(parser_, *line) : CodexThread{};
    known_[rollout] = Known{device, inode, thread};
    return thread;
}

std::optional<std::filesystem::path>
CodexThreads::findRollout(std::string_view id, const std::vector<std::filesystem::path>& roots,
                          std::size_t entryLimit) {
    const std::lock_guard lock(mutex_);
    if (id.empty()) {
        return std::nullopt;
    }
    const std::string suffix = "-" + std::string(id) + ".jsonl";
    if (const auto found = rollouts_.find(id); found != rollouts_.end()) {
        std::error_code error;
        if (std::filesystem::is_regular_file(found->second, error)) {
            return found->second;
        }
        rollouts_.erase(found);
    }
    std::size_t entries = 0;
    for (const auto& root : roots) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(
            root, std::filesystem::directory_options::skip_permission_denied, error);
        for (; !error && it != std::filesystem::recursive_directory_iterator();
             it.increment(error)) {
            if (++entries > entryLimit) {
                return std::nullopt;
            }
            const std::string name = it->path().filename().native();
            std::error_code kindError;
            if (name.size() > suffix.size() && name.ends_with(suffix) &&
                it->is_regular_file(kindError)) {
                if (rollouts_.size() >= kKept) {
                    rollouts_.clear();
                }
                rollouts_.emplace(std::string(id), it->path());
                return it->path();
            }
        }
    }
    return std::nullopt;
}

} // namespace korvo
