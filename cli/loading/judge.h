// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "outcome.h"

#include <string>
#include <string_view>

namespace loading {

// What a decoder that warns as it goes (JPEG's) said while the file was
// rendered, judged once it has run: damage that loses picture data (corrupt
// or cut scan data) fails the file, unless it is salvaged, which is then a
// warning; oddities that lose none (padding between segments, a damaged
// colour profile marker, parameters it corrects) pass. Its decoder reports
// the first warning only, in libvips's error text, which a job that runs
// alone holds for itself.
// Where the first is harmless, the file open at `fd` is decoded once more,
// to its end, for the others.
Error judgeDecoderWarnings(int fd, bool salvage, Warnings& warnings);

// The failure of a damaged file (`what` the decoder said), offering
// --salvage only where it keeps something: a decode of the file open at
// `fd` (first bytes `start`) that stops at nothing is tried to the end.
Error damaged(const std::string& what, int fd, std::string_view start, bool allowUntrusted);

} // namespace loading
