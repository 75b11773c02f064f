// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/options.h"
#include "formats/formats.h"

#include <string_view>

namespace pipeline {

// Opens, ahead of a job, what its libvips work would open by path, so that
// nothing is left to open once the worker's sandbox has closed the file
// system: libvips itself, the modules that read a file starting with
// `start` and write `format` (every module, for a file no table row
// names), and the fonts of a contact sheet's labels.
void openAhead(std::string_view start, const formats::Format* format,
               const command::Options& options);

} // namespace pipeline
