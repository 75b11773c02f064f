#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace platform {

// Calls a function once, after a delay, from the event loop. Scheduling again
// replaces the pending call, so at most one is ever waiting.
class Ticker {
public:
    explicit Ticker(std::function<void()> onTick);

    void scheduleIn(std::chrono::milliseconds delay);
    void cancel();
    bool pending() const { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace platform
