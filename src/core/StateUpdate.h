#pragma once

#include <QObject>
#include <utility>

namespace korvo {

// Applies `change` to a copy of `state` and keeps the copy when it differs. Returns whether the
// state changed, so that the owner announces only real changes.
template <class State, class Change> bool applyChange(State& state, Change&& change) {
    State next = state;
    std::forward<Change>(change)(next);
    if (next == state) {
        return false;
    }
    state = std::move(next);
    return true;
}

// Applies `change` to a concern's `state` and emits the concern's changed() when it differs.
template <class Concern, class State, class Change>
void updateState(Concern& concern, State& state, Change&& change) {
    if (applyChange(state, std::forward<Change>(change))) {
        Q_EMIT concern.changed();
    }
}

} // namespace korvo
