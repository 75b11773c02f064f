// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

#include <memory>

namespace platform {

// Makes the application object, which opens the display. When the display
// cannot be opened (none set, unreachable, refused), the process ends with
// status 1 after one plain line on standard error naming the display and
// the way to run without one, instead of the toolkit's abort.
std::unique_ptr<QApplication> openDisplay(int& argc, char** argv, const char* programName);

} // namespace platform
