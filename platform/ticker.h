// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

namespace platform {

// A clock and a one-shot callback from the event loop: what a paced loop
// needs of time. Scheduling again replaces the pending call, so at most one
// is ever waiting. Tests drive time themselves through their own ticker.
class Ticker {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Ticker() = default;

    virtual void setOnTick(std::function<void()> onTick) = 0;
    virtual void scheduleIn(std::chrono::milliseconds delay) = 0;
    virtual void cancel() = 0;
    virtual Clock::time_point now() const = 0;
};

} // namespace platform
