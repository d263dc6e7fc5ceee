#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace qx {

// A failed host operation: the platform's error number and its description, as the platform
// words it. `notFound` says the failure was only "that file or key does not exist",
// `readOnly` that a file could not be changed because it is read-only, `timedOut` that Excel
// did not answer in time (the call may still happen once Excel gets to it), `quarantined` that a
// security program refused the file or removed it, and `sourceChanged` that the file being
// copied from changed or could no longer be read while it was copied: the sequence must tell
// these apart from every other failure without knowing the platform's numbers.
struct HostError {
    std::uint32_t number = 0;
    std::wstring description;
    bool notFound = false;
    bool readOnly = false;
    bool timedOut = false;
    bool quarantined = false;
    bool sourceChanged = false;
};

// What every host operation hands back: a value, or the error that stopped it. No exceptions
// cross the host interface.
template <typename T> class Outcome {
public:
    Outcome(T value) : state_(std::move(value)) {}
    Outcome(HostError error) : state_(std::move(error)) {}

    bool succeeded() const { return state_.index() == 0; }
    explicit operator bool() const { return succeeded(); }

    const T& value() const { return std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const HostError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, HostError> state_;
};

// The value of an operation that only completes or fails.
struct Done {};
using Status = Outcome<Done>;

inline Status Completed() {
    return Status(Done{});
}

} // namespace qx
