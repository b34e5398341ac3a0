#pragma once

#include <QObject>

namespace korvo {

// Announces that the machine is about to sleep and that it woke again. Each platform's source
// of these events derives from it (PlatformServices::powerEvents()); where the platform has none,
// an object of this class itself simply never announces anything.
class PowerEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PowerEvents() override = default;

Q_SIGNALS:
    void willSleep();
    void didWake();
};

} // namespace korvo
