#pragma once

#include "TestApplication.h"

#include <QCoroTask>
#include <optional>

namespace korvo::test {

// Runs `task` to its end on a nested event loop and returns its value. QCoro::waitFor alone
// needs a default-constructible value, which results are not.
template <class T> T runTask(QCoro::Task<T> task) {
    ensureApplication();
    std::optional<T> out;
    QCoro::waitFor([](QCoro::Task<T> inner, std::optional<T>* result) -> QCoro::Task<> {
        result->emplace(co_await std::move(inner));
    }(std::move(task), &out));
    return std::move(*out);
}

} // namespace korvo::test
