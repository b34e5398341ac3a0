#pragma once

#include "model/Instant.h"
#include "sources/otel/OTelJson.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace korvo {

// Attributes of a metric, a container or a data point: key -> value with typed values unwrapped
// (null is nullopt), on top of the attributes they inherit. A later entry replaces an earlier one
// with the same key, and an entry replaces an inherited one. Keys and values point into the
// document. The first few entries need no heap.
class OTelAttributes {
public:
    struct Entry {
        std::string_view key;
        otel::Found value;
    };

    OTelAttributes() = default;
    // `inherited` must outlive these attributes.
    explicit OTelAttributes(const OTelAttributes* inherited)
        : m_inherited(inherited->empty() ? nullptr : inherited) {}
    OTelAttributes(const OTelAttributes&) = delete;
    OTelAttributes& operator=(const OTelAttributes&) = delete;

    void set(std::string_view key, const otel::Found& value) {
        if (m_size < kInline) {
            std::construct_at(&m_inline[m_size].entry, Entry{key, value});
        } else {
            m_more.push_back({key, value});
        }
        ++m_size;
    }

    bool empty() const { return m_size == 0 && !m_inherited; }

    // The value under `key`, or nullptr when the key is not present.
    const otel::Found* find(std::string_view key) const {
        for (std::size_t i = m_size; i-- > 0;) {
            const Entry& entry = at(i);
            if (entry.key == key) {
                return &entry.value;
            }
        }
        return m_inherited ? m_inherited->find(key) : nullptr;
    }

    // One entry per key, the one that wins, sorted by key.
    std::vector<Entry> effective() const {
        // Every entry, the winning one of each key first, then the first of each key kept.
        std::vector<Entry> result;
        for (const OTelAttributes* layer = this; layer; layer = layer->m_inherited) {
            for (std::size_t i = layer->m_size; i-- > 0;) {
                result.push_back(layer->at(i));
            }
        }
        std::stable_sort(result.begin(), result.end(),
                         [](const Entry& a, const Entry& b) { return a.key < b.key; });
        result.erase(std::unique(result.begin(), result.end(),
                                 [](const Entry& a, const Entry& b) { return a.key == b.key; }),
                     result.end());
        return result;
    }

private:
    static constexpr std::size_t kInline = 8;

    const Entry& at(std::size_t i) const {
        return i < kInline ? m_inline[i].entry : m_more[i - kInline];
    }

    union Slot { // filled before it is read
        Slot() {}
        Entry entry;
    };
    std::array<Slot, kInline> m_inline;
    std::vector<Entry> m_more;
    std::size_t m_size = 0;
    const OTelAttributes* m_inherited = nullptr;
};

// Reads an attribute object ({"type": "input"}) or an OTLP key/value list
// ([{"key": "type", "value": {"stringValue": "input"}}]) into `attributes`. Anything else adds
// nothing.
void parseOTelAttributes(const otel::Found& value, OTelAttributes& attributes);

// The first exact key that holds non-empty text, else the first attribute (in key order) whose
// normalized key equals a normalized search key (so "Gen_AI.Token.Type" matches
// "gen_ai.token.type"). The text points into the document.
std::optional<std::string_view> textForKeys(const OTelAttributes& attributes,
                                            std::span<const std::string_view> keys);

// Like textForKeys, for dates.
std::optional<Instant> dateForKeys(const OTelAttributes& attributes,
                                   std::span<const std::string_view> keys);

} // namespace korvo
