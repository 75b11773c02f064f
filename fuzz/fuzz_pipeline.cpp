// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes through the batch renderer's pipeline, all in memory: a
// binary Netpbm stream through the program's own reader, anything else
// decoded by libvips (with the program's loaders and a pixel limit), mapped,
// and encoded in a format the last byte picks. The same bytes, as a file,
// go through the metadata's reading (Exiv2, and the walk over a PNG's
// chunks) and its writing into a small JPEG.
#include "formats/formats.h"
#include "loading/availability.h"
#include "loading/load.h"
#include "loading/memoryestimate.h"
#include "loading/start.h"
#include "mapping/mapimage.h"
#include "metadata/carried.h"
#include "netpbm/netpbm.h"
#include "png/inputchunks.h"
#include "saving/save.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t pixelLimit = 1 << 22;
constexpr std::uint64_t memoryLimit = std::uint64_t(1) << 30;

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
        return Error();
    };
    (void)netpbm::render(std::string_view(reinterpret_cast<const char*>(data), 2), read, write,
                         4.5f, transform::Branch::Lower, pixelLimit);
}

void renderImage(const std::uint8_t* data, std::size_t size)
{
    static const char* const outputs[] = {"png", "tiff", "jpeg", "ppm"};
    const formats::Format* format = loading::writable(outputs[data[size - 1] % 4], false);
    try {
        const loading::Loaded loaded =
            loading::load(vips::VSource::new_from_memory(data, size), {});
        // The program's own refusals, before anything is decoded.
        if (loaded.error || loading::sizeRefusal(loaded.image, pixelLimit) ||
            loading::memoryRefusal(loaded, memoryLimit) || mapping::unmappableSamples(loaded.image))
            return;
        saving::save(mapping::mapImage(loaded.image, 4.5f, transform::Branch::Upper), *format, {},
                     vips::VTarget::new_to_memory());
    } catch (const vips::VError&) {
        vips_error_clear();
    }
}

// A memory file holding `size` bytes, or -1.
int memoryFile(const void* data, std::size_t size)
{
    const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (fd >= 0 && ::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string smallJpeg;

void carryMetadata(const std::uint8_t* data, std::size_t size)
{
    const int input = memoryFile(data, size);
    if (input < 0)
        return;
    Error unreadable;
    metadata::Carried carried = metadata::Carried::read(input, unreadable);
    (void)metadata::holdsRawSensorData(input);
    // Along the route into a JPEG, as every path takes it.
    metadata::Route route = metadata::routeFor(carried.holdings(), *formats::named("jpeg"), 1);
    carried.follow(route);
    (void)carried.exifBlock();
    (void)carried.tiffTags();
    (void)png::inputChunks(input);
    std::string header = smallJpeg.substr(0, 20);
    (void)carried.intoJpegHeader(header, false);
    if (const int output = memoryFile(smallJpeg.data(), smallJpeg.size()); output >= 0) {
        bool changed = false;
        (void)carried.rewrite(output, "the JPEG", false, changed);
        ::close(output);
    }
    ::close(input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    loading::configure(false, 1);
    loading::ensureStarted();
    vips_cache_set_max(0);
    VipsBlob* blob = vips::VImage::black(8, 8).jpegsave_buffer();
    std::size_t size = 0;
    const void* bytes = vips_blob_get(blob, &size);
    smallJpeg.assign(static_cast<const char*>(bytes), size);
    vips_area_unref(VIPS_AREA(blob));
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
    carryMetadata(data, size);
    return 0;
}
