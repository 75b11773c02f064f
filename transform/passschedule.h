// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"

#include <cstdint>
#include <vector>

namespace transform {

// The branches of a show: the window's loop written to a file. Each pass
// lasts `paceMilliseconds` (the window starts passes at least 250 ms apart)
// and draws its own branch; a draw that would make a fourth change between
// the dark and the bright rendering within one second keeps the branch of
// the pass before, so that no second of a show holds more than three
// changes. Draws come from `draws` alone, so a show is the same wherever it
// is made; a schedule of one fixed branch never changes.
class PassSchedule {
public:
    static constexpr int paceMilliseconds = 250;
    static constexpr int mostChangesPerSecond = 3;

    // One branch throughout.
    explicit PassSchedule(Branch fixed);
    // A new draw every pass, from `draws`.
    static PassSchedule drawn(std::uint64_t draws);

    bool changes() const { return drawn_; }
    // The branch of pass `pass` (from 0), and of the pass that shows at
    // `milliseconds` from the start (negative times count as the first).
    Branch ofPass(std::int64_t pass) const;
    Branch at(std::int64_t milliseconds) const;

private:
    PassSchedule() = default;

    Branch fixed_ = Branch::Lower;
    bool drawn_ = false;
    std::uint64_t draws_ = 0;
    // Passes worked out so far, as the rule needs every pass before.
    mutable std::vector<Branch> passes_;
    mutable std::vector<std::int64_t> changesAt_; // the passes that changed
};

// The branches a film's or an animation's pictures show, each at its own
// time: the schedule's branch at that time, but that a change that would be
// the fourth within one second (its ends included) of the pictures' own
// times keeps the branch before it. Pictures come in the order they show.
class ShownBranches {
public:
    explicit ShownBranches(const PassSchedule& schedule) : schedule_(schedule) {}
    Branch at(std::int64_t milliseconds);

private:
    const PassSchedule& schedule_;
    bool started_ = false;
    Branch last_ = Branch::Lower;
    std::int64_t changes_[PassSchedule::mostChangesPerSecond] = {};
    int changeCount_ = 0;
};

// The uniform draw in [0, 1) of pass `pass`, a multiple of 2^-24.
float passDraw(std::uint64_t draws, std::int64_t pass);

} // namespace transform
