// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/options.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace command {

class FormatCatalogue;

// What parsing the command line came to: options to run with, or a text to
// print and the status to exit with (help, version, the format list, or a
// usage error).
struct ParsedCommandLine {
    std::optional<Options> options;
    std::string message;
    int exitStatus = 0;
};

// `arguments`: the program's, as the system gave them (argv), the program's
// name first.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments,
                                   const FormatCatalogue& formats);

// What --max-memory is by default: a quarter of this machine's memory, at
// most 1 GiB (whole-frame decoders of 100-megapixel pictures fit in it).
std::uint64_t defaultMemoryBudget();

// The --help text, which the man page is also made from.
QString helpText();

} // namespace command
