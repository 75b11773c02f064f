// SPDX-License-Identifier: GPL-3.0-or-later
#include "failure.h"

#include "events.h"
#include "messages.h"
#include "renderloop.h"

#include <QString>

void reportAndEnd(RenderLoop& loop, const std::exception& error)
{
    loop.stop();
    static bool reporting = false;
    if (reporting || platform::programEnded())
        return;
    reporting = true;
    platform::showFatalError(QString("Run-time error: %1").arg(QString::fromUtf8(error.what())));
    platform::endProgram(1);
}
