// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace loading {

// Decodes the JPEG file open at `fd` to its end (reading in place), to see
// every warning its decoder gives, where libvips reports only the first:
// the first that loses picture data (corrupt or cut scan data) in the
// decoder's words, or nothing when none does.
std::string firstDataLosingWarning(int fd);

// Whether what a JPEG decoder said (its warning or its error, in its own
// words) means that picture data was lost, as from corrupt or cut scan
// data; words that name no such loss, the decoder's or not, do not.
bool losesData(const std::string& text);

} // namespace loading
