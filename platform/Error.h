// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vxm::platform {

// A failure reported by a platform operation. Only its localized description
// is ever shown to anyone, so that is all it carries.
struct Error {
    std::string localizedDescription;

    bool operator==(const Error&) const = default;
};

// The one value an asynchronous operation hands its completion: the value it
// produced, or the error that stopped it.
template <class T, class E = Error>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool ok() const { return state_.index() == 0; }
    [[nodiscard]] const T& value() const { return std::get<0>(state_); }
    [[nodiscard]] T& value() { return std::get<0>(state_); }
    [[nodiscard]] const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

}  // namespace vxm::platform
