#include "applytable.h"

#include "runtimeerror.h"

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

namespace transform {

namespace {

template <typename Sample, typename Table>
void mapSamples(Sample* samples, std::size_t pixels, SampleLayout layout, const Table& table)
{
    if (layout.colourSamples == layout.samplesPerPixel) {
        const std::size_t count = pixels * std::size_t(layout.samplesPerPixel);
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = table[samples[i]];
        return;
    }
    if (layout.samplesPerPixel == 4 && layout.colourSamples == 3) {
        for (std::size_t i = 0; i < pixels; ++i, samples += 4) {
            samples[0] = table[samples[0]];
            samples[1] = table[samples[1]];
            samples[2] = table[samples[2]];
        }
        return;
    }
    for (std::size_t i = 0; i < pixels; ++i, samples += layout.samplesPerPixel)
        for (int c = 0; c < layout.colourSamples; ++c)
            samples[c] = table[samples[c]];
}

void requireSize(const LevelTable& table, std::size_t size)
{
    if (table.size() != size)
        throw platform::RuntimeError(platform::RuntimeError::Code::InvalidArgument,
                                     "level table does not match the sample size");
}

} // namespace

void applyTable(std::uint8_t* samples, std::size_t pixels, SampleLayout layout,
                const LevelTable& table)
{
    requireSize(table, 256);
    // Bytes in, bytes out: a byte table keeps the loop in the first cache level.
    std::array<std::uint8_t, 256> bytes{};
    for (std::size_t n = 0; n < bytes.size(); ++n)
        bytes[n] = std::uint8_t(table[n]);
    mapSamples(samples, pixels, layout, bytes);
}

void applyTable(std::uint16_t* samples, std::size_t pixels, SampleLayout layout,
                const LevelTable& table)
{
    requireSize(table, 65536);
    mapSamples(samples, pixels, layout, table);
}

void forRowRanges(int rows, int threads, const std::function<void(int, int)>& job)
{
    const int parts = std::clamp(threads, 1, std::max(rows, 1));
    if (parts == 1) {
        job(0, rows);
        return;
    }
    std::vector<std::jthread> workers;
    workers.reserve(std::size_t(parts - 1));
    for (int part = 1; part < parts; ++part)
        workers.emplace_back(job, rows * part / parts, rows * (part + 1) / parts);
    job(0, rows / parts);
}

} // namespace transform
