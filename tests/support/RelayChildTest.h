#pragma once

#include "support/RawConnection.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <chrono>
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

    // `request` alone on a connection of its own: the relay's answer (waited for up to 5 s),
    // after which the relay must have closed the connection.
    std::string answerThenClosed(const std::string& request) const {
        RawConnection connection(port());
        EXPECT_TRUE(connection.connected());
        connection.send(request);
        std::string answer = connection.read(std::chrono::milliseconds(5000));
        EXPECT_TRUE(connection.closed()) << answer.substr(0, 200);
        return answer;
    }

    TestHome home_;
    std::unique_ptr<RelayProcess> relay_;
};

} // namespace korvo::test
