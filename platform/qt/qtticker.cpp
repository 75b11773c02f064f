// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtticker.h"

namespace platform {

QtTicker::QtTicker()
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (onTick_)
            onTick_();
    });
}

void QtTicker::setOnTick(std::function<void()> onTick) { onTick_ = std::move(onTick); }

void QtTicker::scheduleIn(std::chrono::milliseconds delay) { timer_.start(delay); }

void QtTicker::cancel() { timer_.stop(); }

Ticker::Clock::time_point QtTicker::now() const { return Clock::now(); }

} // namespace platform
