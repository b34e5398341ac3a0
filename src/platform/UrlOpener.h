#pragma once

#include <QUrl>

namespace korvo {

// Opens a web page in the user's browser (the app) or shows the address (the command line).
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl& url) = 0;
};

} // namespace korvo
