#include "relayclient/ReplyEnd.h"

namespace korvo {

void ReplyEnd::await_suspend(std::coroutine_handle<> awaiting) {
    awaiting_ = awaiting;
    finished_ = QObject::connect(reply_.data(), &QNetworkReply::finished, [this] { resume(); });
    destroyed_ = QObject::connect(reply_.data(), &QObject::destroyed, [this] { resume(); });
}

void ReplyEnd::resume() {
    // Whichever comes first resumes, once: a finished reply is destroyed later by its user.
    QObject::disconnect(finished_);
    QObject::disconnect(destroyed_);
    // This object lives in the awaiting frame, which may be gone once resumed.
    awaiting_.resume();
}

} // namespace korvo
