#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace quib {

// A failure carried as a value: a short English text for the user or the log.
struct Error {
    std::string message;
    bool operator==(const Error&) const = default;
};

// Either a value or an Error. Failures cross subsystem boundaries as these, never as exceptions.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(state_);
    }
    T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), ok_(false) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Error& error() const {
        assert(!ok_);
        return error_;
    }

private:
    Error error_;
    bool ok_ = true;
};

inline Error fail(std::string message) { return Error{std::move(message)}; }

}  // namespace quib
