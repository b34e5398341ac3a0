#pragma once

#include <QString>

namespace korvo {

// Where copied text goes: the desktop clipboard in the app, standard output on the command line.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Replaces the current contents with the plain text.
    virtual void setText(const QString& text) = 0;
};

} // namespace korvo
