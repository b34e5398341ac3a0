#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <optional>

namespace korvo::test {

// The application object that event loops and network access need, unless the test program's
// main() made one already.
inline void ensureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "korvo-test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }
}

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
