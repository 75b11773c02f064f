#pragma once

#include "formats.h"
#include "options.h"

#include <vips/vips8>

#include <cstdint>
#include <string>

class OutputFile;

// Every format but the binary Netpbm stream goes through libvips: loaded
// lazily with sequential access, so that decoding, mapping and encoding run
// together over a few rows at a time and memory stays flat whatever the
// picture's size. Failures of libvips throw vips::VError.
namespace vipspath {

// Starts loading a file or a source with the loader libvips finds for it
// (only its header is read now): every frame of an animation, a file cut
// short an error. `loader` receives the loader's nickname.
vips::VImage load(const std::string& path, std::string& loader);
vips::VImage load(const vips::VSource& source, std::string& loader);

// Whether a loaded image passes --max-pixels; an error text if not.
std::string sizeRefusal(const vips::VImage& image, std::uint64_t maxPixels);

// Writes the image to a target in the format, with the options' encoder
// settings and metadata choice.
void save(const vips::VImage& image, const formats::OutputFormat& format, const Options& options,
          const vips::VTarget& target);

// Writes the image in the format, with the options' encoder settings and
// metadata choice, through `output`. Returns an empty string, or the write
// error naming the output; throws vips::VError for the other failures
// (decoding, encoding).
std::string save(const vips::VImage& image, const formats::OutputFormat& format,
                 const Options& options, OutputFile& output);

} // namespace vipspath
