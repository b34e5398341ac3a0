#pragma once

#include <QUrl>
#include <optional>
#include <qcoro/qcorotask.h>

namespace korvo {

// The address of the relay's web view, where a phone without the app pairs by the code, when
// the relay's health answer announces one; nothing when it does not or cannot be asked within a
// few seconds.
QCoro::Task<std::optional<QUrl>> webViewAddress(QUrl relayBaseURL);

} // namespace korvo
