#include "ticker.h"

namespace platform {

Ticker::Ticker(std::function<void()> onTick)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(onTick));
}

void Ticker::scheduleIn(std::chrono::milliseconds delay) { timer_.start(delay); }

void Ticker::cancel() { timer_.stop(); }

} // namespace platform
