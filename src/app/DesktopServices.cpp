#include "app/DesktopServices.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

namespace korvo {

void ClipboardPasteboard::setText(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

void DesktopUrlOpener::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

} // namespace korvo
