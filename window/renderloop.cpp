// SPDX-License-Identifier: GPL-3.0-or-later
#include "renderloop.h"

#include "events.h"
#include "failure.h"
#include "form1.h"
#include "formshost.h"
#include "qtpicturebox.h"
#include "runtimeerror.h"
#include "ticker.h"

using std::chrono::milliseconds;

RenderLoop::RenderLoop(FormsHost& host, milliseconds interval, platform::Ticker& ticker,
                       transform::BranchDraw draw)
    : host_(host), interval_(interval), ticker_(ticker), draw_(std::move(draw))
{
    ticker_.setOnTick([this] { tick(); });
}

void RenderLoop::start(float a)
{
    a_ = a;
    running_ = true;
    const milliseconds wait = untilNextStart();
    if (wait > milliseconds(0)) {
        // The hourglass Go showed stays until this first pass has run.
        ticker_.scheduleIn(wait);
        return;
    }
    ticker_.cancel();
    runPass();
}

void RenderLoop::holdForReload()
{
    if (running_)
        ticker_.scheduleIn(interval_);
}

void RenderLoop::stop()
{
    running_ = false;
    ticker_.cancel();
}

void RenderLoop::tick()
{
    if (platform::programEnded() || !running_)
        return;
    try {
        runPass();
    } catch (const platform::RuntimeError& error) {
        reportAndEnd(*this, error);
    }
}

void RenderLoop::runPass()
{
    lastStart_ = ticker_.now();
    ticker_.scheduleIn(interval_);
    transform::renderPass(*host_.form().PicFrom(), *host_.form().PicTo(), a_, draw_);
    ++passesRun_;
    platform::setMousePointer(host_.form(), platform::MousePointer::Default);
}

milliseconds RenderLoop::untilNextStart() const
{
    if (!lastStart_)
        return milliseconds(0);
    return std::chrono::ceil<milliseconds>(*lastStart_ + interval_ - ticker_.now());
}
