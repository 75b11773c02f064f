// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace platform {

enum class MousePointer { Default = 0, Hourglass = 11 };

// Shows the given pointer over the widget and its children.
void setMousePointer(QWidget& widget, MousePointer pointer);

// Dispatches all pending window events, then returns.
void processEvents();

// Ends the program: hides every window without sending it further events
// and makes the event loop return the status. Handlers that process events
// check programEnded() afterwards and return at once.
void endProgram(int status);
bool programEnded();

} // namespace platform
