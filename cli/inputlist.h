#pragma once

#include <string>
#include <vector>

// Reads a list of input paths, one a line (empty lines skipped, a CR before
// the line end dropped) or, with
// `nulSeparated`, one per NUL-ended record as `find -print0` writes them;
// "-" reads standard input. Appends them to `inputs`; returns an empty
// string, or what went wrong.
std::string readInputList(const std::string& source, bool nulSeparated,
                          std::vector<std::string>& inputs);
