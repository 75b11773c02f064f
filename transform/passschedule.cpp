// SPDX-License-Identifier: GPL-3.0-or-later
#include "passschedule.h"

#include "bitmix.h"

#include <algorithm>

namespace transform {

namespace {

// A show longer than this repeats its last pass: no film lasts 50 days.
constexpr std::int64_t mostPasses = std::int64_t(1) << 24;

} // namespace

float passDraw(std::uint64_t draws, std::int64_t pass)
{
    const std::uint64_t bits = mixBits(draws ^ mixBits(std::uint64_t(pass)));
    return float(bits >> 40) / float(1 << 24);
}

PassSchedule::PassSchedule(Branch fixed) : fixed_(fixed) {}

PassSchedule PassSchedule::drawn(std::uint64_t draws)
{
    PassSchedule schedule;
    schedule.drawn_ = true;
    schedule.draws_ = draws;
    return schedule;
}

Branch PassSchedule::ofPass(std::int64_t pass) const
{
    if (!drawn_)
        return fixed_;
    pass = std::clamp<std::int64_t>(pass, 0, mostPasses - 1);
    // Four changes, at passes q < ... < p, fit in one second (its ends
    // included) when (p - q) * pace <= 1000 ms.
    constexpr std::int64_t passesPerSecond = 1000 / paceMilliseconds;
    while (std::int64_t(passes_.size()) <= pass) {
        const auto next = std::int64_t(passes_.size());
        Branch branch = branchForDraw(passDraw(draws_, next));
        if (next > 0 && branch != passes_.back()) {
            const std::size_t count = changesAt_.size();
            const bool tooMany = count >= std::size_t(mostChangesPerSecond) &&
                                 next - changesAt_[count - mostChangesPerSecond] <= passesPerSecond;
            if (tooMany)
                branch = passes_.back();
            else
                changesAt_.push_back(next);
        }
        passes_.push_back(branch);
    }
    return passes_[std::size_t(pass)];
}

Branch ShownBranches::at(std::int64_t milliseconds)
{
    const Branch wanted = schedule_.at(milliseconds);
    if (!started_ || wanted == last_) {
        started_ = true;
        last_ = wanted;
        return last_;
    }
    // The oldest of the last three changes, as a ring of them.
    constexpr int kept = PassSchedule::mostChangesPerSecond;
    const std::int64_t oldest = changes_[changeCount_ % kept];
    if (changeCount_ >= kept && milliseconds - oldest <= 1000)
        return last_;
    changes_[changeCount_ % kept] = milliseconds;
    ++changeCount_;
    last_ = wanted;
    return last_;
}

Branch PassSchedule::at(std::int64_t milliseconds) const
{
    return ofPass(std::max<std::int64_t>(milliseconds, 0) / paceMilliseconds);
}

} // namespace transform
