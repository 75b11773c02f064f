// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ticker.h"

#include <QTimer>

namespace platform {

// The ticker on a precise single-shot Qt timer and the steady clock.
class QtTicker : public Ticker {
public:
    QtTicker();

    void setOnTick(std::function<void()> onTick) override;
    void scheduleIn(std::chrono::milliseconds delay) override;
    void cancel() override;
    Clock::time_point now() const override;

private:
    QTimer timer_;
    std::function<void()> onTick_;
};

} // namespace platform
