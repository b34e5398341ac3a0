#pragma once

#include <QMetaObject>
#include <QNetworkReply>
#include <QPointer>
#include <coroutine>

namespace korvo {

// Awaits the end of a network reply. The awaiting coroutine resumes when the reply finishes,
// or when the reply is destroyed unfinished (its network access manager went away with its
// owner), so that no awaiting frame stays suspended for ever. The result is true when the reply
// finished; false when it is gone, and then it must not be touched.
//
// A reply destroyed unfinished resumes the coroutine from inside that destruction: the awaiting
// code must only check that its owner is still there, as it does after every suspension.
class ReplyEnd {
public:
    explicit ReplyEnd(QNetworkReply* reply) : reply_(reply) {}

    bool await_ready() const noexcept { return reply_.isNull() || reply_->isFinished(); }
    void await_suspend(std::coroutine_handle<> awaiting);
    bool await_resume() const noexcept { return !reply_.isNull(); }

private:
    void resume();

    QPointer<QNetworkReply> reply_;
    std::coroutine_handle<> awaiting_;
    QMetaObject::Connection finished_;
    QMetaObject::Connection destroyed_;
};

} // namespace korvo
