#pragma once

#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace korvo::test {

// Tests against a korvo-relay child process with its state in a home of the test's own.
class RelayChildTest : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& extra = {}) {
        relay_ = std::make_unique<RelayProcess>(home_.filePath("relay.db"), extra);
        ASSERT_GT(relay_->port(), 0);
    }
    int port() const { return relay_->port(); }

    TestHome home_;
    std::unique_ptr<RelayProcess> relay_;
};

} // namespace korvo::test
