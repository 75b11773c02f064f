// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

// Pictures hidden in metadata: a camera's preview or thumbnail is a JPEG
// stream somewhere in its EXIF block, wherever a maker note's pointer says
// (or, damaged, does not say) it lies.
namespace metadata {

struct Span {
    std::size_t start;
    std::size_t end;
};

// Every JPEG stream in the bytes, from its SOI through its frame header and
// scan to its EOI (or as far as it goes); nothing when the bytes hold too
// many candidates to tell in bounded time.
std::optional<std::vector<Span>> jpegStreamsIn(std::string_view bytes);

} // namespace metadata
