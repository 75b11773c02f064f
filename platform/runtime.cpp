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

double squareRoot(double value)
{
    if (std::isnan(value) || value < 0.0)
        throw RuntimeError(RuntimeError::Code::InvalidArgument,
                           "square root of " + describe(value));
    return std::sqrt(value);
}

Colour rgb(int red, int green, int blue)
{
    for (int channel : {red, green, blue})
        if (channel < 0 || channel > 255)
            throw RuntimeError(RuntimeError::Code::InvalidArgument,
                               "colour channel " + std::to_string(channel) + " outside 0..255");
    return red + 256 * green + 65536 * blue;
}

std::int16_t roundToInt16(double value)
{
    if (std::isnan(value))
        throw RuntimeError(RuntimeError::Code::Overflow, "NaN has no integer value");
    const double rounded = std::nearbyint(value);
    if (rounded < -32768.0 || rounded > 32767.0)
        throw RuntimeError(RuntimeError::Code::Overflow,
                           describe(value) + " does not fit a 16-bit integer");
    return static_cast<std::int16_t>(rounded);
}

} // namespace platform
