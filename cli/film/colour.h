// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "film/libav.h"
#include "leveltable.h"
#include "samplemapper.h"

// How a film's pictures become RGB and back: with the source's own matrix
// and range (an untagged one as players take it: BT.709 from 1280 pixels
// wide or more than 576 lines, else BT.601), mapped through the level
// table in RGB (16 bits where the source has more than 8), then converted
// back with the same matrix and range into the encoder's pixel format.
namespace film {

// The matrix and range the conversions use, and whether RGB needs 16 bits.
struct Conversion {
    int matrix = AVCOL_SPC_BT709; // as sws_getCoefficients takes it
    bool fullRange = false;
    bool deep = false;
    bool alpha = false;
};
Conversion conversionFor(const AVCodecParameters& source);

// The pixel format FFmpeg should be told for `format`: the full-range
// "J" formats are their plain twins with a full range.
AVPixelFormat unJ(AVPixelFormat format);

class FrameMapper {
public:
    FrameMapper(const Conversion& conversion, int width, int height, float a);
    FrameMapper(const FrameMapper&) = delete;
    FrameMapper& operator=(const FrameMapper&) = delete;

    // `in` (of any pixel format, the film's size) mapped on `branch` into
    // `out`, whose format, width and height are set; false on a frame the
    // scaler cannot take.
    bool map(const AVFrame& in, transform::Branch branch, AVFrame& out);

private:
    SwsContext* scalerFrom(AVPixelFormat format);
    SwsContext* scalerTo(AVPixelFormat format);

    Conversion conversion_;
    int width_;
    int height_;
    AVPixelFormat rgb_;
    Frame picture_;
    transform::SampleMapper lower_;
    transform::SampleMapper upper_;
    Scaler from_;
    AVPixelFormat fromFormat_ = AV_PIX_FMT_NONE;
    Scaler to_;
    AVPixelFormat toFormat_ = AV_PIX_FMT_NONE;
};

} // namespace film
