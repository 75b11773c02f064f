// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ticker.h"

#include <optional>

// Time that a test moves by hand: advance() moves the clock and runs each
// tick that falls due on the way, as the event loop would when its timer
// fires. Nothing depends on how fast the machine is.
class ManualTicker : public platform::Ticker {
public:
    void setOnTick(std::function<void()> onTick) override { onTick_ = std::move(onTick); }
    void scheduleIn(std::chrono::milliseconds delay) override { due_ = now_ + delay; }
    void cancel() override { due_.reset(); }
    Clock::time_point now() const override { return now_; }

    bool pending() const { return due_.has_value(); }

    void advance(std::chrono::milliseconds step)
    {
        const Clock::time_point end = now_ + step;
        while (due_ && *due_ <= end) {
            now_ = std::max(now_, *due_);
            due_.reset();
            onTick_();
        }
        now_ = std::max(now_, end);
    }

private:
    std::function<void()> onTick_;
    Clock::time_point now_{};
    std::optional<Clock::time_point> due_;
};
