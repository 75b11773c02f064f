// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>

class RenderLoop;

// Stops the render loop, reports a run-time error in a message and ends the
// program with status 1. Only the first failure is reported: the loop can
// draw nothing more behind the message, and no second message follows it.
void reportAndEnd(RenderLoop& loop, const std::exception& error);
