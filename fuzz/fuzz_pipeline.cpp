// Arbitrary bytes through the batch renderer's pipeline, all in memory: a
// binary Netpbm stream through the program's own reader, anything else
// decoded by libvips (with the program's loaders and a pixel limit), mapped,
// and encoded in a format the last byte picks.
#include "formats.h"
#include "mapimage.h"
#include "netpbm.h"
#include "options.h"
#include "vipspath.h"
#include "vipsstart.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint64_t pixelLimit = 1 << 22;

void renderStream(const std::uint8_t* data, std::size_t size)
{
    std::size_t position = 2;
    const netpbm::Read read = [&](char* out, std::size_t wanted) {
        const std::size_t n = std::min(wanted, size - position);
        std::memcpy(out, data + position, n);
        position += n;
        return std::ptrdiff_t(n);
    };
    std::string written;
    const netpbm::Write write = [&written](const char* bytes, std::size_t n) {
        written.append(bytes, n);
        return std::string();
    };
    netpbm::render(std::string_view(reinterpret_cast<const char*>(data), 2), read, write, 4.5f,
                   transform::Branch::Lower, pixelLimit);
}

void renderImage(const std::uint8_t* data, std::size_t size)
{
    static const char* const outputs[] = {"png", "tiff", "jpeg", "ppm"};
    const auto format = formats::writable(outputs[data[size - 1] % 4], false);
    Options options;
    try {
        std::string loader;
        const vips::VImage image =
            vipspath::load(vips::VSource::new_from_memory(data, size), loader);
        if (!vipspath::sizeRefusal(image, pixelLimit).empty())
            return;
        vipspath::save(mapImage(image, 4.5f, transform::Branch::Upper), *format, options,
                       vips::VTarget::new_to_memory());
    } catch (const vips::VError&) {
        vips_error_clear();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vipsstart::configure(false, 1);
    vipsstart::ensure();
    vips_cache_set_max(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    if (netpbm::isBinary(std::string_view(reinterpret_cast<const char*>(data), 2)))
        renderStream(data, size);
    else
        renderImage(data, size);
    return 0;
}
