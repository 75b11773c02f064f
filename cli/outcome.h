// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <string>
#include <utility>

// What became of one input, as the batch reports it: rendered; rendered
// with a warning (its reason); skipped, as its output exists and the run
// resumes; or failed (its reason). An output that exists already is a
// failure of its own kind, which a resumed run counts as skipped.
class Outcome {
public:
    enum class Kind { Rendered, Warned, Skipped, Failed, OutputExists };

    Outcome() = default;
    static Outcome rendered() { return {}; }
    static Outcome skipped() { return {Kind::Skipped, {}}; }
    // Rendered, with every warning so far joined into one line.
    static Outcome warned(const std::string& reason) { return {Kind::Warned, reason}; }
    static Outcome failed(const Error& error)
    {
        return {error.outputExists() ? Kind::OutputExists : Kind::Failed, error.reason()};
    }
    static Outcome of(Kind kind, std::string reason) { return {kind, std::move(reason)}; }

    Kind kind() const { return kind_; }
    const std::string& reason() const { return reason_; }
    bool failed() const { return kind_ == Kind::Failed || kind_ == Kind::OutputExists; }

private:
    Outcome(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind_ = Kind::Rendered;
    std::string reason_;
};

// The warnings of one file's rendering, joined into its one line.
class Warnings {
public:
    void add(const std::string& reason) { joined_ += (joined_.empty() ? "" : "; ") + reason; }
    // Rendered, with these warnings if there are any.
    Outcome outcome() const
    {
        return joined_.empty() ? Outcome::rendered() : Outcome::warned(joined_);
    }

private:
    std::string joined_;
};
