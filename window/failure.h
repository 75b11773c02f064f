#pragma once

#include <exception>

// Reports a run-time error in a message and ends the program with status 1.
void reportAndEnd(const std::exception& error);
