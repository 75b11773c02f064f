// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "film/libav.h"

#include <optional>
#include <string>

// Which encoder writes a film's pictures again: the input's codec where
// this build encodes it and the container holds it, else H.264 in yuv420p
// (VP9 where the container is WebM), and at what quality.
namespace film {

struct EncoderChoice {
    const AVCodec* codec = nullptr;
    AVPixelFormat format = AV_PIX_FMT_NONE;
};

EncoderChoice chooseEncoder(const AVCodecParameters& source, const AVOutputFormat& container);

// -Q (1 to 100) on the encoder's own scale: x264's and x265's CRF from 51
// (-Q 1) to 0 (-Q 100), libvpx's and AV1's CRF from 63 to 0, else the
// quantiser from 31 to 1. Without -Q, the encoder's default (VP8, VP9 and
// AV1 at CRF 30, as their default is a bit rate).
void setQuality(const AVCodec& codec, std::optional<int> quality, AVCodecContext& context,
                AVDictionary** options);

} // namespace film
