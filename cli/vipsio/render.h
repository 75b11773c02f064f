#pragma once

#include "colourmap.h"
#include "error.h"
#include "vipsio/encoding.h"
#include "vipsio/formats.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Every format but the binary Netpbm stream is rendered through libvips.
// This room is the only one that includes libvips; what it offers the rest
// of the program takes and returns no libvips type, and no exception leaves it.
namespace vipsio {

// What rendering one image through libvips needs to know.
struct ImageJob {
    float a = 4.0f;
    transform::Branch branch = transform::Branch::Lower;
    std::optional<formats::OutputFormat> format; // nothing: the input's own
    std::string output;                          // a path, or "-" for standard output
    bool overwrite = false;
    std::uint64_t maxPixels = 0; // 0: no limit
    std::uint64_t maxMemory = 0; // what the loader may hold, in bytes; 0: no limit
    bool allowUntrusted = false;
    bool salvage = false; // render what can be read of a damaged file
    Encoding encoding;
};

// Renders a file, whose first bytes `magic` the caller has read from `fd`.
// A JPEG whose scan data is damaged fails, unless the job salvages it: then
// the error is a warning (Error::Source::Warning) and the output is written.
Error renderFile(const std::string& path, int fd, std::string_view magic, const ImageJob& job);
// Renders the photograph the program embeds.
Error renderEmbeddedPhotograph(const ImageJob& job);

// Forgets libvips's error text, which is one for the whole process: a job
// that runs alone calls this first, so that any text it finds is its own.
void forgetErrors();

} // namespace vipsio
