#include "TestDatabase.h"

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace korvo::test {

bool onPostgres() {
    const char* shared = std::getenv("KORVO_TEST_DB");
    return shared != nullptr && *shared != '\0';
}

std::string testDatabase(const std::string& file) {
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
