// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/embeddedphoto.h"

#include "loading/start.h"

#include <QFile>

#include <cstdint>
#include <vector>

namespace loading {

namespace {

std::uint32_t little(const QByteArray& bytes, int at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}

} // namespace

std::optional<vips::VImage> embeddedPhotograph()
{
    ensureStarted();
    QFile file(":/photo.bmp");
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // An uncompressed, bottom-up, 24-bit BMP is all this has to read.
    const bool usable = bytes.size() > 54 && bytes.startsWith("BM") && little(bytes, 28, 2) == 24 &&
                        little(bytes, 30, 4) == 0 && std::int32_t(little(bytes, 22, 4)) > 0;
    const int width = usable ? int(little(bytes, 18, 4)) : 0;
    const int height = usable ? int(little(bytes, 22, 4)) : 0;
    const qsizetype offset = usable ? qsizetype(little(bytes, 10, 4)) : 0;
    const qsizetype stride = (qsizetype(width) * 3 + 3) / 4 * 4;
    if (!usable || offset + stride * height > bytes.size())
        return std::nullopt;
    std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        const char* row = bytes.constData() + offset + stride * (height - 1 - y);
        std::uint8_t* out = rgb.data() + std::size_t(y) * std::size_t(width) * 3;
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            out[3 * x] = std::uint8_t(row[3 * x + 2]);
            out[3 * x + 1] = std::uint8_t(row[3 * x + 1]);
            out[3 * x + 2] = std::uint8_t(row[3 * x]);
        }
    }
    VipsImage* image = vips_image_new_from_memory_copy(rgb.data(), rgb.size(), width, height, 3,
                                                       VIPS_FORMAT_UCHAR);
    if (!image)
        throw vips::VError("cannot hold the embedded photograph");
    return vips::VImage(image).copy(
        vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

} // namespace loading
