#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace korvo::test {

// Whether the relays of this run keep their state in PostgreSQL.
inline bool onPostgres() {
    const char* shared = std::getenv("KORVO_TEST_DB");
    return shared != nullptr && *shared != '\0';
}

// The --db argument for a relay whose SQLite file would be `file`. When KORVO_TEST_DB names a
// PostgreSQL database (scripts/with-postgres sets it), the same relay tests run against it
// instead: each file becomes a schema of its own, so relays given the same file share state
// and every other relay starts empty.
inline std::string testDatabase(const std::string& file) {
    if (!onPostgres()) {
        return file;
    }
    const std::string uri = std::getenv("KORVO_TEST_DB");
    char schema[32];
    std::snprintf(schema, sizeof schema, "t_%016zx", std::hash<std::string>{}(file));
    return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" +
           schema;
}

} // namespace korvo::test
