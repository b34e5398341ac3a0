#include "relayclient/BoundedReply.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace korvo {

namespace {

constexpr qint64 kReadBufferBytes = 64 * 1024;

} // namespace

BoundedReply::BoundedReply(QNetworkReply* reply, qint64 limit) : reply_(reply), limit_(limit) {
    reply->setReadBufferSize(kReadBufferBytes);
    const auto take = [reply, limit, state = state_] {
        if (state->tooLarge) {
            return;
        }
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        state->data += reply->read(limit + 1 - state->data.size());
        if (announced > limit || state->data.size() > limit) {
            state->tooLarge = true;
            state->data.clear();
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, take);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
}

QByteArray BoundedReply::take() {
    if (state_->tooLarge) {
        return {};
    }
    if (reply_->isOpen()) {
        state_->data += reply_->read(limit_ + 1 - state_->data.size());
        if (state_->data.size() > limit_) {
            state_->tooLarge = true;
            state_->data.clear();
        }
    }
    return std::move(state_->data);
}

} // namespace korvo
