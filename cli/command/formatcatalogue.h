// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace command {

// What the command line asks of the formats this build writes. The libvips
// room answers, so that the command line itself needs only Qt Core.
class FormatCatalogue {
public:
    virtual ~FormatCatalogue() = default;
    // The name of the format a name or file suffix (without the dot, any
    // case) stands for, when this build can write it.
    virtual std::optional<std::string> writableName(std::string_view nameOrSuffix,
                                                    bool allowUntrusted) const = 0;
    // What --list-formats prints.
    virtual std::string listing(bool allowUntrusted) const = 0;
};

} // namespace command
