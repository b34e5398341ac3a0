#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace korvo {

// Holds either a value of T or an error of E. Construct with Result<T, E>::success(...) /
// ::failure(...), or implicitly from a T or an E when the two types differ.
// For operations without a value use T = std::monostate.
template <class T, class E> class Result {
public:
    using value_type = T;
    using error_type = E;

    Result(const T& value) requires(!std::is_same_v<T, E>)
        : state_(std::in_place_index<0>, value) {}
    Result(T&& value) requires(!std::is_same_v<T, E>)
        : state_(std::in_place_index<0>, std::move(value)) {}
    Result(const E& error) requires(!std::is_same_v<T, E>)
        : state_(std::in_place_index<1>, error) {}
    Result(E&& error) requires(!std::is_same_v<T, E>)
        : state_(std::in_place_index<1>, std::move(error)) {}

    static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
    static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Precondition: ok().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    // Precondition: !ok().
    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

    friend bool operator==(const Result&, const Result&) = default;

private:
    template <std::size_t I, class V>
    Result(std::in_place_index_t<I> index, V&& v) : state_(index, std::forward<V>(v)) {}

    std::variant<T, E> state_;
};

} // namespace korvo
