#pragma once

#include "ticker.h"

#include <chrono>

class FormsHost;

// Runs render passes on the current window, one per tick, until the program
// ends. start() replaces whatever loop is running; passes start at least one
// interval apart, and the event loop runs in between.
class RenderLoop {
public:
    static constexpr std::chrono::milliseconds productionInterval{250};

    RenderLoop(FormsHost& host, std::chrono::milliseconds interval);

    // Runs the first pass at once, then one each interval.
    void start(float a);
    bool running() const { return running_; }
    int passesRun() const { return passesRun_; }

private:
    void tick();
    void runPass();

    FormsHost& host_;
    std::chrono::milliseconds interval_;
    platform::Ticker ticker_;
    float a_ = 4.0f;
    bool running_ = false;
    int passesRun_ = 0;
};
