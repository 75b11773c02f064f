// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "renderpass.h"

#include <chrono>
#include <optional>

class FormsHost;

namespace platform {
class Ticker;
}

// Runs render passes on the current window, one per tick, until the program
// ends or the loop is stopped. start() replaces whatever loop is running.
// Pass starts are at least one interval apart, whatever starts them, and the
// event loop runs in between.
class RenderLoop {
public:
    static constexpr std::chrono::milliseconds productionInterval{250};

    RenderLoop(FormsHost& host, std::chrono::milliseconds interval, platform::Ticker& ticker,
               transform::BranchDraw draw = transform::clockSeededDraw);

    // Runs the first pass at once if an interval has gone by since the last
    // pass started, else as soon as it has; then one pass each interval.
    void start(float a);
    // The window was reloaded: the photograph it shows stays one whole
    // interval before a running loop's next pass covers it, however often
    // the window is reloaded.
    void holdForReload();
    void stop();
    bool running() const { return running_; }
    int passesRun() const { return passesRun_; }

private:
    void tick();
    void runPass();
    std::chrono::milliseconds untilNextStart() const;

    FormsHost& host_;
    std::chrono::milliseconds interval_;
    platform::Ticker& ticker_;
    transform::BranchDraw draw_;
    float a_ = 4.0f;
    bool running_ = false;
    int passesRun_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastStart_;
};
