#pragma once

#include <string>

namespace korvo::test {

// Whether the relays of this run keep their state in PostgreSQL.
bool onPostgres();

// The --db argument for a relay whose SQLite file would be `file`. When KORVO_TEST_DB names a
// PostgreSQL database (scripts/with-postgres sets it), the same relay tests run against it
// instead: each file becomes a schema of its own, so relays given the same file share state
// and every other relay starts empty.
std::string testDatabase(const std::string& file);

} // namespace korvo::test
