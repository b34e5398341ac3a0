#pragma once

#include <QByteArray>
#include <memory>

class QNetworkReply;

namespace korvo {

// The body of a network reply, read off the reply as it arrives so that at most one small read
// buffer of it waits inside the network layer, and never more than `limit` bytes in all: an
// answer that announces or delivers more is aborted while it arrives. Call watch() right after
// sending, before the event loop runs; after the reply finished, take() gives the body.
class BoundedReply {
public:
    BoundedReply(QNetworkReply* reply, qint64 limit);

    // True when the answer was larger than the limit and the transfer was aborted.
    bool tooLarge() const { return state_->tooLarge; }
    // The whole body once the reply finished; empty when it was too large.
    QByteArray take();

private:
    struct State {
        QByteArray data;
        bool tooLarge = false;
    };
    QNetworkReply* reply_;
    qint64 limit_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace korvo
