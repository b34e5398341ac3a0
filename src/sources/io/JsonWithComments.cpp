#include "sources/io/JsonWithComments.h"

namespace korvo {
namespace {

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Calls `visit(i)` for each position of `text` outside string literals; `visit` returns the
// last position it consumed.
template <typename Visit> void forEachOutsideStrings(const std::string& text, Visit visit) {
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else {
            i = visit(i);
        }
    }
}

// Comments become spaces (line breaks inside block comments stay); strings are kept.
void blankComments(std::string& out) {
    forEachOutsideStrings(out, [&out](std::size_t i) {
        if (out[i] != '/' || i + 1 >= out.size()) {
            return i;
        }
        if (out[i + 1] == '/') {
            for (; i < out.size() && out[i] != '\n'; ++i) {
                out[i] = ' ';
            }
            return i;
        }
        if (out[i + 1] == '*') {
            out[i] = out[i + 1] = ' ';
            for (i += 2; i < out.size(); ++i) {
                if (out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/') {
                    out[i] = out[i + 1] = ' ';
                    return i + 1;
                }
                if (out[i] != '\n') {
                    out[i] = ' ';
                }
            }
        }
        return i;
    });
}

} // namespace

std::string withoutCommentsAndTrailingCommas(std::string_view text) {
    std::string out(text);
    blankComments(out);
    // A second pass, so that a comment between a comma and the bracket it precedes is gone.
    forEachOutsideStrings(out, [&out](std::size_t i) {
        if (out[i] == ',') {
            std::size_t next = i + 1;
            while (next < out.size() && isJsonSpace(out[next])) {
                ++next;
            }
            if (next < out.size() && (out[next] == '}' || out[next] == ']')) {
                out[i] = ' ';
            }
        }
        return i;
    });
    return out;
}

} // namespace korvo
