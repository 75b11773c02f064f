// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>

// Why something failed for one file, as the one line that reports it; an
// Error made with no reason is no error. Every room of the renderer returns
// these: exceptions stop at the library boundaries, and none crosses a thread.
class [[nodiscard]] Error {
public:
    // What the reason reports: a failure, or an output that already exists
    // (which a resumed batch counts as done).
    enum class Cause { Program, OutputExists };

    Error() = default;
    explicit Error(std::string reason, Cause cause = Cause::Program)
        : reason_(std::move(reason)), cause_(cause)
    {
    }

    explicit operator bool() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }
    Cause cause() const { return cause_; }
    bool outputExists() const { return cause_ == Cause::OutputExists; }
    // `shownOutput` exists, and no option said to replace or keep it.
    static Error exists(const std::string& shownOutput)
    {
        return Error(shownOutput + " already exists (use -y to replace it, or --skip-existing "
                                   "to render only what is missing)",
                     Cause::OutputExists);
    }

private:
    std::string reason_;
    Cause cause_ = Cause::Program;
};
