#pragma once

// Small helpers for reading OpenTelemetry JSON through simdjson's DOM without copies: optional
// members, members gathered by index in one pass over an object, and trimmed texts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <simdjson.h>
#include <string_view>

namespace korvo::otel {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;
// A member or value that may be missing.
using Found = std::optional<element>;

inline std::optional<object> asObject(const Found& value) {
    if (!value || value->type() != element_type::OBJECT) {
        return std::nullopt;
    }
    return value->get_object().value_unsafe();
}

inline std::optional<array> asArray(const Found& value) {
    if (!value || value->type() != element_type::ARRAY) {
        return std::nullopt;
    }
    return value->get_array().value_unsafe();
}

// The first member named `key`, null included.
inline Found member(object obj, std::string_view key) {
    for (auto field : obj) {
        if (field.key == key) {
            return field.value;
        }
    }
    return std::nullopt;
}

// Members of an object found under known keys (by index), the first of equal keys kept. Slots
// stay uninitialized until filled, so a wide set costs nothing until it is used.
template <std::size_t N> class Members {
    static_assert(N <= 32);

public:
    Members() {}

    [[gnu::always_inline]] void keepFirst(int index, element value) {
        if (index >= 0 && !has(static_cast<std::size_t>(index))) {
            std::construct_at(&m_slots[static_cast<std::size_t>(index)].value, value);
            m_present |= bit(static_cast<std::size_t>(index));
        }
    }
    [[gnu::always_inline]] bool has(std::size_t index) const { return m_present & bit(index); }
    [[gnu::always_inline]] Found operator[](std::size_t index) const {
        return has(index) ? Found(m_slots[index].value) : std::nullopt;
    }
    // The member under the first filled index of [from, to).
    [[gnu::always_inline]] Found firstOf(std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to && i < N; ++i) {
            if (has(i)) {
                return m_slots[i].value;
            }
        }
        return std::nullopt;
    }

private:
    static std::uint32_t bit(std::size_t index) { return std::uint32_t{1} << index; }

    union Slot {
        Slot() {}
        element value;
    };
    std::array<Slot, N> m_slots;
    std::uint32_t m_present = 0;
};

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string_view trimmedView(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The text the value parser reads from a value (trimmed, not empty), as a view into the document.
inline std::optional<std::string_view> textOf(const Found& value) {
    if (!value || value->type() != element_type::STRING) {
        return std::nullopt;
    }
    const std::string_view text = trimmedView(value->get_string().value_unsafe());
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

inline char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace korvo::otel
