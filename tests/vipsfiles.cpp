// SPDX-License-Identifier: GPL-3.0-or-later
#include "vipsfiles.h"

#include <vips/vips8>

using vips::VImage;

namespace vipsfiles {

namespace {

VipsBandFormat bandFormat(const std::string& name)
{
    return name == "ushort"  ? VIPS_FORMAT_USHORT
           : name == "float" ? VIPS_FORMAT_FLOAT
                             : VIPS_FORMAT_UCHAR;
}

} // namespace

void start()
{
    static const bool started = VIPS_INIT("tests") == 0;
    (void)started;
}

Samples read(const std::string& path, bool everyFrame)
{
    start();
    try {
        const VImage original = VImage::new_from_file(
            path.c_str(), everyFrame ? VImage::option()->set("n", -1) : VImage::option());
        const VImage image = original.cast(VIPS_FORMAT_DOUBLE);
        Samples samples{image.width(),
                        image.height(),
                        image.bands(),
                        vips_enum_nick(VIPS_TYPE_BAND_FORMAT, original.format()),
                        vips_enum_nick(VIPS_TYPE_INTERPRETATION, original.interpretation()),
                        {}};
        std::size_t size = 0;
        const auto* memory = static_cast<const double*>(image.write_to_memory(&size));
        samples.values.assign(memory, memory + size / sizeof(double));
        g_free(const_cast<double*>(memory));
        return samples;
    } catch (const vips::VError&) {
        vips_error_clear();
        return {};
    }
}

bool write(const Samples& samples, const std::string& path, const std::string& saveOptions)
{
    start();
    try {
        const VImage doubles = VImage::new_from_memory(
            const_cast<double*>(samples.values.data()), samples.values.size() * sizeof(double),
            samples.width, samples.height, samples.bands, VIPS_FORMAT_DOUBLE);
        const auto interpretation = VipsInterpretation(
            vips_enum_from_nick("tests", VIPS_TYPE_INTERPRETATION, samples.interpretation.c_str()));
        doubles.cast(bandFormat(samples.format))
            .copy(VImage::option()->set("interpretation", interpretation))
            .write_to_file((path + saveOptions).c_str());
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
}

bool writeAnimation(const std::string& path, int width, int height, int frames, int delay, int loop)
{
    start();
    try {
        // Each frame its own flat colour, so a frame lost or merged shows.
        const VImage frameIndex = (VImage::xyz(width, height * frames)[1] / double(height)).floor();
        VImage all = frameIndex.linear({60.0, 20.0, 50.0}, {10.0, 90.0, 30.0})
                         .cast(VIPS_FORMAT_UCHAR)
                         .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        all.set("page-height", height);
        all.set("delay", std::vector<int>(std::size_t(frames), delay));
        all.set("loop", loop);
        all.write_to_file(path.c_str());
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
}

bool writeJpegWithExif(const std::string& path, int width, int height, int orientation,
                       const std::string& artist)
{
    start();
    try {
        VImage image = VImage::xyz(width, height)[0].cast(VIPS_FORMAT_UCHAR).bandjoin({40, 200});
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        image.set("orientation", orientation);
        image.set("exif-ifd0-Artist", artist.c_str());
        image.jpegsave(path.c_str());
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
}

int intField(const std::string& path, const std::string& name)
{
    start();
    const VImage image = VImage::new_from_file(path.c_str());
    return image.get_typeof(name.c_str()) ? image.get_int(name.c_str()) : -1;
}

std::string stringField(const std::string& path, const std::string& name)
{
    start();
    const VImage image = VImage::new_from_file(path.c_str());
    return image.get_typeof(name.c_str()) ? image.get_string(name.c_str()) : "";
}

std::vector<int> delays(const std::string& path)
{
    start();
    const VImage image = VImage::new_from_file(path.c_str(), VImage::option()->set("n", -1));
    return image.get_typeof("delay") ? image.get_array_int("delay") : std::vector<int>{};
}

} // namespace vipsfiles
