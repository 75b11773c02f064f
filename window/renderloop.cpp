#include "renderloop.h"

#include "events.h"
#include "failure.h"
#include "form1.h"
#include "formshost.h"
#include "qtpicturebox.h"
#include "renderpass.h"
#include "runtimeerror.h"

RenderLoop::RenderLoop(FormsHost& host, std::chrono::milliseconds interval)
    : host_(host), interval_(interval), ticker_([this] { tick(); })
{
}

void RenderLoop::start(float a)
{
    ticker_.cancel();
    a_ = a;
    running_ = true;
    runPass();
}

void RenderLoop::tick()
{
    if (platform::programEnded())
        return;
    try {
        runPass();
    } catch (const platform::RuntimeError& error) {
        reportAndEnd(error);
    }
}

void RenderLoop::runPass()
{
    const auto started = std::chrono::steady_clock::now();
    transform::renderPass(*host_.form().PicFrom(), *host_.form().PicTo(), a_);
    ++passesRun_;
    platform::setMousePointer(host_.form(), platform::MousePointer::Default);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    ticker_.scheduleIn(std::max(std::chrono::milliseconds(0), interval_ - elapsed));
}
