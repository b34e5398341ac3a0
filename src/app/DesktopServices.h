#pragma once

#include "platform/Pasteboard.h"
#include "platform/UrlOpener.h"

namespace korvo {

// The desktop clipboard.
class ClipboardPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override;
};

// The user's web browser.
class DesktopUrlOpener final : public UrlOpener {
public:
    void open(const QUrl& url) override;
};

} // namespace korvo
