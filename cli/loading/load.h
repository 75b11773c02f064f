// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "formats/formats.h"

#include <vips/vips8>

#include <cstdint>
#include <string>
#include <string_view>

// Loading through libvips, lazily and with sequential access, so that
// decoding, mapping and encoding run together over a few rows at a time and
// memory stays flat whatever the picture's size. Every loader reads the
// job's one descriptor. Failures of libvips throw vips::VError; a file no
// loader takes is an Error of the program's own.
namespace loading {

// What fails a load: a decoder's warning, only a file cut short, or nothing
// (render what can be read).
enum class Strictness { Warnings, Truncation, Nothing };

struct LoadSettings {
    Strictness strictness = Strictness::Truncation;
    // Every page of a multi-page file (every frame of an animation always).
    bool allPages = false;
    // Loaders libvips marks untrusted may read it (as --allow-untrusted).
    bool allowUntrusted = false;
    // Else the page to load.
    int page = 0;
};

struct Loaded {
    vips::VImage image;
    std::string loader;                    // the loader's nickname: jpegload_source, ...
    const formats::Format* read = nullptr; // the format's row, if the table has it
    Error error;                           // set when no loader takes the input
};

// The loader libvips finds for the file open at `fd`, whose first bytes are
// `start` (nullptr if none), with the module that reads its format loaded
// first. A file that only an untrusted loader would take, while its first
// bytes say it is a format a trusted one reads, is given to that one, so
// that a damaged file fails with its own reason.
const char* findLoader(int fd, std::string_view start, bool allowUntrusted);

// Starts loading the file open at `fd` (only its header is read now).
Loaded load(int fd, std::string_view start, const LoadSettings& settings);
// Starts loading a source in memory (for the fuzz target).
Loaded load(const vips::VSource& source, const LoadSettings& settings);

// How many pages or frames a loaded file holds.
int pagesOf(const Loaded& loaded);

// Whether a loaded image passes --max-pixels.
Error sizeRefusal(const vips::VImage& image, std::uint64_t maxPixels);

// The nickname of a loader libvips names by its class (VipsForeignLoadJpegSource, ...).
std::string nicknameOf(const char* loader);

} // namespace loading
