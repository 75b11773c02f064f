// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The one exception type for every run-time error. The code tells callers
// which kind of failure it was, so that a handler can treat a text that is
// no number differently from a failure it cannot recover from.
class RuntimeError : public std::runtime_error {
public:
    enum class Code { TypeMismatch, Overflow, InvalidArgument };

    RuntimeError(Code code, const std::string& message) : std::runtime_error(message), code_(code)
    {
    }

    Code code() const noexcept { return code_; }

private:
    Code code_;
};

} // namespace platform
