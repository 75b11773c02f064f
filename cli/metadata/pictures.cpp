// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/pictures.h"

#include <cstdint>

namespace metadata {

namespace {

// More starts of a JPEG than any camera's block holds: past it, a block is
// judged one that cannot be told safe.
constexpr int mostCandidates = 64;

struct Walk {
    std::string_view bytes;

    unsigned at(std::size_t offset) const { return static_cast<unsigned char>(bytes[offset]); }

    // The JPEG whose SOI lies at `start`: where it ends, if it holds a frame
    // and a scan (a picture a reader can decode, or begin to); else nothing.
    std::optional<std::size_t> streamFrom(std::size_t start) const
    {
        bool frame = false;
        bool scan = false;
        std::size_t offset = start + 2;
        for (;;) {
            while (offset < bytes.size() && at(offset) == 0xff && offset + 1 < bytes.size() &&
                   at(offset + 1) == 0xff)
                ++offset;
            if (offset + 2 > bytes.size() || at(offset) != 0xff)
                break;
            const unsigned marker = at(offset + 1);
            if (marker == 0xd9)
                return frame && scan ? std::optional(offset + 2) : std::nullopt;
            if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
                offset += 2;
                continue;
            }
            if (offset + 4 > bytes.size())
                break;
            const std::size_t length = std::size_t(at(offset + 2)) << 8 | at(offset + 3);
            if (length < 2 || offset + 2 + length > bytes.size() || marker < 0xc0)
                break;
            frame = frame || (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 &&
                              marker != 0xc8 && marker != 0xcc);
            offset += 2 + length;
            if (marker != 0xda)
                continue;
            scan = true;
            // Entropy-coded data: a marker is 0xff followed by neither 0
            // (a stuffed byte) nor a restart.
            while (offset + 1 < bytes.size() &&
                   !(at(offset) == 0xff && at(offset + 1) != 0 &&
                     !(at(offset + 1) >= 0xd0 && at(offset + 1) <= 0xd7)))
                ++offset;
            if (offset + 1 >= bytes.size())
                return frame ? std::optional(bytes.size()) : std::nullopt;
        }
        // Cut short: still a picture a reader begins to decode.
        return frame && scan ? std::optional(std::min(offset, bytes.size())) : std::nullopt;
    }
};

} // namespace

std::optional<std::vector<Span>> jpegStreamsIn(std::string_view bytes)
{
    const Walk walk{bytes};
    std::vector<Span> found;
    int candidates = 0;
    for (std::size_t start = bytes.find("\xff\xd8\xff"); start != std::string_view::npos;
         start = bytes.find("\xff\xd8\xff", start)) {
        if (++candidates > mostCandidates)
            return std::nullopt;
        if (const auto end = walk.streamFrom(start)) {
            found.push_back({start, *end});
            start = *end;
        } else {
            start += 1;
        }
    }
    return found;
}

} // namespace metadata
