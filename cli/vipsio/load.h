#pragma once

#include "error.h"

#include <vips/vips8>

#include <cstdint>
#include <string>

// Loading through libvips, lazily and with sequential access, so that
// decoding, mapping and encoding run together over a few rows at a time and
// memory stays flat whatever the picture's size. Failures of libvips throw
// vips::VError; a file no loader takes is an Error of the program's own.
namespace vipsio {

// What fails a load: a decoder's warning (which for JPEG means damaged scan
// data), only a file cut short, or nothing (render what can be read).
enum class Strictness { Warnings, Truncation, Nothing };

struct LoadSettings {
    Strictness strictness = Strictness::Truncation;
    // Every page of a multi-page file (every frame of an animation always).
    bool allPages = false;
};

struct Loaded {
    vips::VImage image;
    std::string loader; // the loader's nickname: jpegload, ppmload_source, ...
    Error error;        // set when no loader takes the input
};

// Starts loading a file or a source with the loader libvips finds for it
// (only its header is read now). A file that only an untrusted loader would
// take, while its first bytes say it is a format a trusted one reads, is
// given to that one, so that a damaged file fails with its own reason.
Loaded load(const std::string& path, const LoadSettings& settings);
Loaded load(const vips::VSource& source, const LoadSettings& settings);

// The loader for a file, as `load` chooses it (nullptr if none), with the
// libvips module that reads its format loaded first.
const char* findLoader(const std::string& path);

// How many pages or frames a file that `loader` loaded holds.
int pagesOf(const vips::VImage& image, const std::string& loader);

// Whether a loaded image passes --max-pixels.
Error sizeRefusal(const vips::VImage& image, std::uint64_t maxPixels);

// The nickname of a loader libvips names by its class (VipsForeignLoadJpegFile, ...).
std::string nicknameOf(const char* loader);

} // namespace vipsio
