// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/colour.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace film {

namespace {

int matrixOf(const AVCodecParameters& source)
{
    switch (source.color_space) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return source.color_space;
    default:
        // As players take an untagged picture.
        return source.width >= 1280 || source.height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    }
}

transform::LevelTable tableFor(bool deep, float a, transform::Branch branch)
{
    return {deep ? 65535 : 255, a, branch};
}

// A scaler that shares each picture among threads, as many as FFmpeg
// sees fit (the result does not depend on how many).
SwsContext* scaler(int width, int height, AVPixelFormat from, AVPixelFormat to)
{
    SwsContext* made = sws_alloc_context();
    if (!made)
        return nullptr;
    av_opt_set_int(made, "srcw", width, 0);
    av_opt_set_int(made, "srch", height, 0);
    av_opt_set_int(made, "src_format", from, 0);
    av_opt_set_int(made, "dstw", width, 0);
    av_opt_set_int(made, "dsth", height, 0);
    av_opt_set_int(made, "dst_format", to, 0);
    av_opt_set_int(made, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(made, "threads", 0, 0);
    if (sws_init_context(made, nullptr, nullptr) < 0) {
        sws_freeContext(made);
        return nullptr;
    }
    return made;
}

void tellRanges(SwsContext* scaler, const Conversion& conversion, bool fromRgb)
{
    const int* coefficients = sws_getCoefficients(conversion.matrix);
    const int yuvRange = conversion.fullRange ? 1 : 0;
    sws_setColorspaceDetails(scaler, coefficients, fromRgb ? 1 : yuvRange, coefficients,
                             fromRgb ? yuvRange : 1, 0, 1 << 16, 1 << 16);
}

} // namespace

AVPixelFormat unJ(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

Conversion conversionFor(const AVCodecParameters& source)
{
    const auto format = AVPixelFormat(source.format);
    const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(format);
    Conversion conversion;
    conversion.matrix = matrixOf(source);
    conversion.fullRange = source.color_range == AVCOL_RANGE_JPEG || unJ(format) != format;
    conversion.deep = described && described->comp[0].depth > 8;
    conversion.alpha = described && (described->flags & AV_PIX_FMT_FLAG_ALPHA);
    return conversion;
}

FrameMapper::FrameMapper(const Conversion& conversion, int width, int height, float a)
    : conversion_(conversion), width_(width), height_(height),
      rgb_(conversion.deep ? (conversion.alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48)
                           : (conversion.alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24)),
      picture_(av_frame_alloc()), lower_(tableFor(conversion.deep, a, transform::Branch::Lower)),
      upper_(tableFor(conversion.deep, a, transform::Branch::Upper))
{
    if (picture_) {
        picture_->format = rgb_;
        picture_->width = width;
        picture_->height = height;
        if (av_frame_get_buffer(picture_.get(), 0) < 0)
            picture_.reset();
    }
}

SwsContext* FrameMapper::scalerFrom(AVPixelFormat format)
{
    if (!from_ || format != fromFormat_) {
        from_.reset(scaler(width_, height_, unJ(format), rgb_));
        fromFormat_ = format;
        if (from_)
            tellRanges(from_.get(), conversion_, false);
    }
    return from_.get();
}

SwsContext* FrameMapper::scalerTo(AVPixelFormat format)
{
    if (!to_ || format != toFormat_) {
        to_.reset(scaler(width_, height_, rgb_, unJ(format)));
        toFormat_ = format;
        if (to_)
            tellRanges(to_.get(), conversion_, true);
    }
    return to_.get();
}

bool FrameMapper::map(const AVFrame& in, transform::Branch branch, AVFrame& out)
{
    if (!picture_ || in.width != width_ || in.height != height_)
        return false;
    SwsContext* from = scalerFrom(AVPixelFormat(in.format));
    SwsContext* to = scalerTo(AVPixelFormat(out.format));
    if (!from || !to)
        return false;
    if (sws_scale_frame(from, picture_.get(), &in) < 0)
        return false;
    const transform::SampleMapper& mapper = branch == transform::Branch::Lower ? lower_ : upper_;
    const transform::SampleLayout layout{conversion_.alpha ? 4 : 3, 3};
    for (int row = 0; row < height_; ++row) {
        std::uint8_t* line = picture_->data[0] + std::ptrdiff_t(row) * picture_->linesize[0];
        if (conversion_.deep) {
            auto* words = reinterpret_cast<std::uint16_t*>(line);
            mapper.map(words, words, std::size_t(width_), layout);
        } else {
            mapper.map(line, line, std::size_t(width_), layout);
        }
    }
    return sws_scale_frame(to, &out, picture_.get()) >= 0;
}

} // namespace film
