// SPDX-License-Identifier: GPL-3.0-or-later
#include "events.h"

#include <QApplication>
#include <QWidget>

namespace platform {

namespace {
bool ended = false;
}

void setMousePointer(QWidget& widget, MousePointer pointer)
{
    if (pointer == MousePointer::Hourglass)
        widget.setCursor(Qt::WaitCursor);
    else
        widget.unsetCursor();
}

void processEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void endProgram(int status)
{
    ended = true;
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(status);
}

bool programEnded() { return ended; }

} // namespace platform
