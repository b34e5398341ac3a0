#pragma once

#include <QString>

namespace korvo {

// Desktop notifications: a short summary and a body, shown by the desktop and forgotten.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

} // namespace korvo
