#pragma once

#include "error.h"

#include <string>
#include <vector>

namespace command {

// Reads a list of input paths, one a line (empty lines skipped, a CR before
// the line end dropped) or, with `nulSeparated`, one per NUL-ended record
// as `find -print0` writes them; "-" reads standard input. Appends them to
// `paths`.
Error readInputList(const std::string& source, bool nulSeparated, std::vector<std::string>& paths);

} // namespace command
