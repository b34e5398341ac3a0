#include "sources/JsonWithComments.h"

namespace korvo {
namespace {

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Comments become spaces; strings are copied as they are.
std::string withoutComments(std::string_view text) {
    std::string out(text);
    bool inString = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
            for (; i < out.size() && out[i] != '\n'; ++i) {
                out[i] = ' ';
            }
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
            out[i] = out[i + 1] = ' ';
            for (i += 2; i < out.size(); ++i) {
                if (out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/') {
                    out[i] = out[i + 1] = ' ';
                    ++i;
                    break;
                }
                if (out[i] != '\n') {
                    out[i] = ' ';
                }
            }
        }
    }
    return out;
}

} // namespace

std::string withoutCommentsAndTrailingCommas(std::string_view text) {
    std::string out = withoutComments(text);
    bool inString = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == ',') {
            std::size_t next = i + 1;
            while (next < out.size() && isJsonSpace(out[next])) {
                ++next;
            }
            if (next < out.size() && (out[next] == '}' || out[next] == ']')) {
                out[i] = ' ';
            }
        }
    }
    return out;
}

} // namespace korvo
