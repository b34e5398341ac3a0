#include "sources/UsageAdapter.h"

#include <new>

namespace korvo {

std::string SourceError::text() const {
    switch (kind) {
    case Kind::unreadable:
        return path + " could not be read";
    case Kind::notJson:
        return path + " is not valid JSON";
    case Kind::outOfMemory:
        break;
    }
    return "out of memory";
}

AdapterDiagnostic UsageAdapter::diagnose() const noexcept {
    try {
        return inspect();
    } catch (const std::bad_alloc&) {
        AdapterDiagnostic diagnostic;
        diagnostic.id = id();
        diagnostic.displayName = displayName();
        settleDiagnostic(diagnostic, {}, "Out of memory while probing " + diagnostic.displayName);
        return diagnostic;
    }
}

UsageReading UsageAdapter::readUsage() const noexcept {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return UsageReading{std::nullopt, SourceError{SourceError::Kind::outOfMemory, {}}};
    }
}

} // namespace korvo
