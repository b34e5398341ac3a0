#include "relayclient/SecretText.h"

#include <algorithm>
#include <cctype>

namespace korvo {

namespace {

constexpr std::string_view kHidden = "[hidden]";
// Values shorter than this are not searched for elsewhere: "1" or "ok" would hide everything.
constexpr std::size_t kMinimumSecretLength = 4;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The end of the JSON string whose opening quote is at `open`: one past its closing quote, or
// the end of the text when it is cut short.
std::size_t stringEnd(std::string_view text, std::size_t open) {
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i + 1;
        }
    }
    return text.size();
}

// The end of the JSON value starting at `from` (a string, an object or array with everything in
// it, or a bare word), read lexically; the end of the text when it is cut short.
std::size_t valueEnd(std::string_view text, std::size_t from) {
    if (from >= text.size()) {
        return from;
    }
    if (text[from] == '"') {
        return stringEnd(text, from);
    }
    if (text[from] == '{' || text[from] == '[') {
        int depth = 0;
        for (std::size_t i = from; i < text.size(); ++i) {
            if (text[i] == '"') {
                i = stringEnd(text, i) - 1;
            } else if (text[i] == '{' || text[i] == '[') {
                ++depth;
            } else if ((text[i] == '}' || text[i] == ']') && --depth == 0) {
                return i + 1;
            }
        }
        return text.size();
    }
    std::size_t i = from;
    while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']' &&
           !isSpace(text[i])) {
        ++i;
    }
    return i;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A member name between its quotes, lower-cased, with its escapes of ASCII characters undone,
// so that "conn\u0065ctorDeviceToken" is seen for what it is.
std::string normalizedName(std::string_view raw) {
    std::string name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == 'u' && i + 5 < raw.size()) {
                int value = 0;
                bool hex = true;
                for (std::size_t k = i + 2; k < i + 6; ++k) {
                    const int digit = hexValue(raw[k]);
                    hex = hex && digit >= 0;
                    value = value * 16 + std::max(digit, 0);
                }
                if (hex && value < 0x80) {
                    name += static_cast<char>(std::tolower(value));
                    i += 5;
                    continue;
                }
            }
            name += next;
            ++i;
            continue;
        }
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

bool namesASecret(std::string_view raw) {
    const std::string name = normalizedName(raw);
    for (const std::string_view word : {"token", "secret", "code", "password", "qrpayload"}) {
        if (name.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

struct Span {
    std::size_t begin, end;
};

// The values of the secret members, in order.
std::vector<Span> secretValueSpans(std::string_view text) {
    std::vector<Span> spans;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"') {
            continue;
        }
        const std::size_t end = stringEnd(text, i);
        std::size_t colon = end;
        while (colon < text.size() && isSpace(text[colon])) {
            ++colon;
        }
        if (colon < text.size() && text[colon] == ':' && end > i + 1 &&
            namesASecret(text.substr(i + 1, end - i - 2))) {
            std::size_t value = colon + 1;
            while (value < text.size() && isSpace(text[value])) {
                ++value;
            }
            const std::size_t valueStop = valueEnd(text, value);
            if (valueStop > value) {
                spans.push_back({value, valueStop});
            }
            i = std::max(valueStop, end) - 1;
            continue;
        }
        i = end - 1;
    }
    return spans;
}

void replaceAll(std::string& text, const std::string& secret) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + kHidden.size())) {
        text.replace(at, secret.size(), kHidden);
    }
}

} // namespace

std::vector<std::string> secretMemberValues(std::string_view text) {
    std::vector<std::string> values;
    for (const Span& span : secretValueSpans(text)) {
        std::string_view value = text.substr(span.begin, span.end - span.begin);
        if (value.starts_with('"')) {
            value.remove_prefix(1);
            if (value.ends_with('"')) {
                value.remove_suffix(1);
            }
        }
        values.emplace_back(value);
    }
    return values;
}

std::string withoutSecrets(std::string_view text, const std::vector<std::string>& credentials) {
    std::vector<std::string> secrets = secretMemberValues(text);
    secrets.insert(secrets.end(), credentials.begin(), credentials.end());
    std::string result;
    std::size_t copied = 0;
    for (const Span& span : secretValueSpans(text)) {
        result.append(text.substr(copied, span.begin - copied));
        result += '"';
        result += kHidden;
        result += '"';
        copied = span.end;
    }
    result.append(text.substr(copied));
    // Longer secrets first, so that a secret holding a shorter one is hidden whole.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& secret : secrets) {
        if (secret.size() >= kMinimumSecretLength) {
            replaceAll(result, secret);
        }
    }
    return result;
}

} // namespace korvo
