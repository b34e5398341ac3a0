#pragma once

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

} // namespace korvo
