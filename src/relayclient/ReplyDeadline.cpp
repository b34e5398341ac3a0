#include "relayclient/ReplyDeadline.h"

#include <QNetworkReply>
#include <QTimer>

namespace korvo {

ReplyDeadline::ReplyDeadline(QNetworkReply* reply, std::chrono::milliseconds limit,
                             MonotonicClock now) {
    const auto end = now() + limit;
    const auto expire = [reply, expired = expired_] {
        if (!reply->isFinished() && !*expired) {
            *expired = true;
            reply->abort();
        }
    };
    auto* timer = new QTimer(reply); // stops and goes with the reply
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, reply, expire);
    QObject::connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    const auto check = [expire, end, now = std::move(now)] {
        if (now() >= end) {
            expire();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, check);
    timer->start(limit);
}

} // namespace korvo
