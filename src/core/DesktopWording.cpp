#include "core/DesktopWording.h"

#include <utility>

namespace korvo {

QString desktopWording(const QString& text, DesktopKind desktop) {
    if (desktop == DesktopKind::mac || !text.contains(QLatin1String("Mac"))) {
        return text;
    }
    // Longest phrases first; a leading "Mac" is a label or status ("Mac power", "Mac sleeping").
    static const std::pair<QLatin1String, QLatin1String> phrases[] = {
        {QLatin1String("the Mac download page"), QLatin1String("the download page")},
        {QLatin1String("This Mac"), QLatin1String("This Computer")},
        {QLatin1String("this Mac"), QLatin1String("this computer")},
        {QLatin1String("the Mac"), QLatin1String("the computer")},
    };
    QString worded = text;
    for (const auto& [mac, computer] : phrases) {
        worded.replace(mac, computer);
    }
    if (worded.startsWith(QLatin1String("Mac "))) {
        worded.replace(0, 3, QLatin1String("Computer"));
    }
    return worded;
}

} // namespace korvo
