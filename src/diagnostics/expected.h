// The result of an operation that can fail: its value, or the message that
// says why there is none. Whoever reports to the host appends the message as
// it is, so a message is written once, where the failure is found.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

// The failing side of an Expected, made with failure("...").
struct Failure {
    std::string message;
    int kind = 0;  // what failed, where a caller words failures by their kind
};

inline Failure failure(std::string message, int kind = 0) { return Failure{std::move(message), kind}; }

template <typename T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Failure f) : state_(std::in_place_index<1>, std::move(f)) {}

    explicit operator bool() const { return state_.index() == 0; }
    const T& operator*() const {
        assert(*this);
        return std::get<0>(state_);
    }
    const T* operator->() const { return &**this; }
    const std::string& message() const {
        assert(!*this);
        return std::get<1>(state_).message;
    }
    int kind() const {
        assert(!*this);
        return std::get<1>(state_).kind;
    }
    // The failure, to pass on as another Expected's.
    const Failure& error() const {
        assert(!*this);
        return std::get<1>(state_);
    }

private:
    std::variant<T, Failure> state_;
};

// The value of an operation that gives nothing but success.
struct Ok {};
using Status = Expected<Ok>;
