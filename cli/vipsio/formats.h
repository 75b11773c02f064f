#pragma once

#include "command/formatcatalogue.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The formats the renderer writes, and what libvips in this build reads.
namespace formats {

struct OutputFormat {
    std::string name;   // as -f and --list-formats name it
    std::string suffix; // for new file names, without the dot
    std::string saver;  // the libvips saver that writes it
    bool lossy = false; // takes -Q
};

// The format a name or file suffix (without the dot, any case) stands for,
// when this build can write it; savers that libvips marks untrusted only
// when they are allowed.
std::optional<OutputFormat> writable(std::string_view nameOrSuffix, bool allowUntrusted);

// The writable format an input file is stored in, told by its first bytes;
// nothing when libvips cannot read it or no saver writes that format.
std::optional<OutputFormat> ofFile(const std::string& path, bool allowUntrusted);

// The writable format of an image libvips loaded with the named loader.
std::optional<OutputFormat> ofLoader(std::string_view loader, std::string_view magic,
                                     bool allowUntrusted);

// Netpbm formats, which the hand-written stream keeps as they are, and the
// suffixes of their files.
bool isNetpbm(const OutputFormat& format);
bool isNetpbmSuffix(std::string_view suffix);

// What --list-formats prints.
std::string listing(bool allowUntrusted);

// The formats for the command line.
class Catalogue : public FormatCatalogue {
public:
    std::optional<std::string> writableName(std::string_view nameOrSuffix,
                                            bool allowUntrusted) const override;
    std::string listing(bool allowUntrusted) const override;
};

} // namespace formats
