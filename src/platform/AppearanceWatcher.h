#pragma once

#include <QObject>

namespace korvo {

// The desktop's choice between light and dark, or none.
enum class ColorScheme { noPreference, light, dark };

// Tells the colour scheme the desktop asks applications to use, and when the user switches it.
// Each platform's source derives from it (PlatformServices::appearanceWatcher()); where the
// platform has none, an object of this class itself stays at noPreference.
class AppearanceWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AppearanceWatcher() override = default;

    ColorScheme colorScheme() const { return scheme_; }

Q_SIGNALS:
    void colorSchemeChanged(korvo::ColorScheme scheme);

protected:
    // Records the scheme and announces it when it differs from the one before.
    void setColorScheme(ColorScheme scheme) {
        if (scheme != scheme_) {
            scheme_ = scheme;
            Q_EMIT colorSchemeChanged(scheme);
        }
    }

private:
    ColorScheme scheme_ = ColorScheme::noPreference;
};

} // namespace korvo
