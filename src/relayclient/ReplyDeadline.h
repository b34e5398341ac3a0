#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QNetworkReply;

namespace korvo {

// An overall time limit on a network reply, from the moment it is sent to the end of its
// answer: when the reply has not finished by then it is aborted, however steadily its bytes
// trickle in (Qt's transfer time-out only fires after a silence). A timer ends a reply that has
// gone quiet; each piece of the answer that arrives is also checked against `now`, a monotonic
// clock that tests may replace. Start it right after sending, before the event loop runs; the
// timer goes with the reply.
class ReplyDeadline {
public:
    using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

    ReplyDeadline(QNetworkReply* reply, std::chrono::milliseconds limit,
                  MonotonicClock now = std::chrono::steady_clock::now);

    // True when the limit passed and the reply was aborted for it.
    bool expired() const { return *expired_; }

private:
    std::shared_ptr<bool> expired_ = std::make_shared<bool>(false);
};

} // namespace korvo
