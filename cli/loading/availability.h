// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/formatcatalogue.h"
#include "formats/formats.h"

#include <optional>
#include <string>
#include <string_view>

// Which rows of the formats table this build of libvips reads and writes.
namespace loading {

// The format a name or file suffix (without the dot, any case) stands for,
// when this build can write it; savers that libvips marks untrusted only
// when they are allowed.
const formats::Format* writable(std::string_view nameOrSuffix, bool allowUntrusted);
const formats::Format* writable(const formats::Format* format, bool allowUntrusted);

// What --list-formats prints.
std::string listing(bool allowUntrusted);

// The formats for the command line.
class Catalogue : public command::FormatCatalogue {
public:
    std::optional<std::string> writableName(std::string_view nameOrSuffix,
                                            bool allowUntrusted) const override;
    std::string listing(bool allowUntrusted) const override;
};

} // namespace loading
