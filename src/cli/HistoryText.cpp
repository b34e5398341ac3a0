#include "cli/HistoryText.h"

#include "model/TimeText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstdio>

namespace korvo {

namespace {

QString utcText(const std::optional<Instant>& at) {
    return at ? QString::fromStdString(formatInternetDateTime(*at)) : QString();
}

QString localText(const std::optional<Instant>& at, const QTimeZone& zone) {
    if (!at) {
        return QStringLiteral("-");
    }
    return QDateTime::fromSecsSinceEpoch(unixSecondsTruncated(*at), zone)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// The shortest text that reads back as the same number.
QString numberText(const std::optional<double>& value) {
    if (!value) {
        return QString();
    }
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.15g", *value);
    return QString::fromLatin1(buffer.data());
}

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString tableText(const std::vector<UsageHistoryPoint>& points, const QTimeZone& zone) {
    const QStringList header = {
        QStringLiteral("Time"),   QStringLiteral("Tool"),   QStringLiteral("Window"),
        QStringLiteral("Used"),   QStringLiteral("Resets"), QStringLiteral("Input"),
        QStringLiteral("Output"), QStringLiteral("Cached"), QStringLiteral("Cost")};
    std::vector<QStringList> rows{header};
    const auto orDash = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("-") : text;
    };
    const auto whole = [&](const std::optional<double>& value) {
        return value ? QString::fromStdString(wholeNumberText(*value)) : QStringLiteral("-");
    };
    for (const UsageHistoryPoint& point : points) {
        rows.push_back({localText(point.at, zone), QString::fromStdString(point.toolId),
                        orDash(QString::fromStdString(point.window)),
                        point.usedPercent
                            ? QString::fromStdString(wholePercentText(*point.usedPercent))
                            : QStringLiteral("-"),
                        localText(point.resetAt, zone), whole(point.inputTokens),
                        whole(point.outputTokens), whole(point.cachedInputTokens),
                        point.costUsd ? QStringLiteral("$%1").arg(*point.costUsd, 0, 'f', 2)
                                      : QStringLiteral("-")});
    }
    std::vector<qsizetype> widths(header.size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            widths[std::size_t(i)] = std::max(widths[std::size_t(i)], row.at(i).size());
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            // Text columns to the left, numbers to the right.
            const bool number = i >= 3 && i != 4;
            const QString cell = number ? row.at(i).rightJustified(widths[std::size_t(i)])
                                        : row.at(i).leftJustified(widths[std::size_t(i)]);
            line += (i ? QStringLiteral("  ") : QString()) + cell;
        }
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString csvText(const std::vector<UsageHistoryPoint>& points) {
    QString text = QStringLiteral(
        "at,tool,window,usedPercent,resetAt,inputTokens,outputTokens,cachedInputTokens,costUsd\n");
    for (const UsageHistoryPoint& point : points) {
        const QStringList fields = {utcText(point.at),
                                    csvField(QString::fromStdString(point.toolId)),
                                    csvField(QString::fromStdString(point.window)),
                                    numberText(point.usedPercent),
                                    utcText(point.resetAt),
                                    numberText(point.inputTokens),
                                    numberText(point.outputTokens),
                                    numberText(point.cachedInputTokens),
                                    numberText(point.costUsd)};
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

QString jsonText(const std::vector<UsageHistoryPoint>& points) {
    QJsonArray array;
    for (const UsageHistoryPoint& point : points) {
        QJsonObject object{{QStringLiteral("at"), utcText(point.at)},
                           {QStringLiteral("tool"), QString::fromStdString(point.toolId)},
                           {QStringLiteral("window"), QString::fromStdString(point.window)}};
        if (point.resetAt) {
            object.insert(QStringLiteral("resetAt"), utcText(point.resetAt));
        }
        const std::pair<const char*, const std::optional<double>*> numbers[] = {
            {"usedPercent", &point.usedPercent},
            {"inputTokens", &point.inputTokens},
            {"outputTokens", &point.outputTokens},
            {"cachedInputTokens", &point.cachedInputTokens},
            {"costUsd", &point.costUsd}};
        for (const auto& [name, value] : numbers) {
            if (*value) {
                object.insert(QLatin1String(name), **value);
            }
        }
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

} // namespace

QString historyText(const std::vector<UsageHistoryPoint>& points, HistoryRequest::Format format,
                    const QTimeZone& zone) {
    switch (format) {
    case HistoryRequest::Format::csv:
        return csvText(points);
    case HistoryRequest::Format::json:
        return jsonText(points);
    case HistoryRequest::Format::table:
        break;
    }
    return tableText(points, zone);
}

} // namespace korvo
