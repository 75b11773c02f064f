// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/input.h"
#include "error.h"

#include <string>

namespace command {

// Reads a list of input paths, one a line (empty lines skipped, a CR before
// the line end dropped) or, with `nulSeparated`, one per NUL-ended record
// as `find -print0` writes them; "-" reads standard input. Adds them to
// `inputs` as files; returns how many in `count`.
Error readInputList(const std::string& source, bool nulSeparated, InputList& inputs,
                    std::size_t& count);

} // namespace command
