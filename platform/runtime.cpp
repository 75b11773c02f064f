// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime.h"

#include "runtimeerror.h"

#include <chrono>
#include <cmath>
#include <random>
#include <string>

namespace platform {

namespace {

std::mt19937& generator()
{
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

std::string describe(double value) { return std::to_string(value); }

} // namespace

void randomize()
{
    const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
    generator().seed(seed);
}

float nextRandom()
{
    // The top 24 bits make every float in [0, 1) with spacing 2^-24 equally
    // likely and never round up to 1.
    return static_cast<float>(generator()() >> 8) * 0x1p-24f;
}

void failSquareRoot(double value)
{
    throw RuntimeError(RuntimeError::Code::InvalidArgument, "square root of " + describe(value));
}

void failColourChannel(int channel)
{
    throw RuntimeError(RuntimeError::Code::InvalidArgument,
                       "colour channel " + std::to_string(channel) + " outside 0..255");
}

void failRoundToInt16(double value)
{
    if (std::isnan(value))
        throw RuntimeError(RuntimeError::Code::Overflow, "NaN has no integer value");
    throw RuntimeError(RuntimeError::Code::Overflow,
                       describe(value) + " does not fit a 16-bit integer");
}

} // namespace platform
