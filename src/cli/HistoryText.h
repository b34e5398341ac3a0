#pragma once

#include "cli/CommandLine.h"
#include "core/UsageHistory.h"

#include <QString>
#include <QTimeZone>
#include <vector>

namespace korvo {

// The points of the usage history as `history` prints them. The table is for reading: local
// times, whole percentages, "-" for what a point lacks. CSV (with a header line) and JSON (an
// array of objects) are for spreadsheets and scripts: UTC times in internet date-time form and
// the numbers as stored, a missing value left empty or out.
QString historyText(const std::vector<UsageHistoryPoint>& points, HistoryRequest::Format format,
                    const QTimeZone& zone = QTimeZone::systemTimeZone());

} // namespace korvo
