// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "film/libav.h"

// Where every stream's packets go: rescaled from their own time base into
// the output stream's, and interleaved by time.
namespace film {

class Muxer {
public:
    explicit Muxer(AVFormatContext* output) : output_(output) {}

    // Writes `packet` (whose times are in `timeBase`) to output stream
    // `stream`; the packet is taken (left blank).
    Error write(AVPacket& packet, AVRational timeBase, int stream);

private:
    AVFormatContext* output_;
};

// Copies stream side data (the display matrix among it) from `from` to
// `to`, but what an encoder says of its own stream when `reencoded`.
Error copySideData(const AVStream& from, AVStream& to, bool reencoded);

} // namespace film
