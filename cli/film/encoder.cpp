// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/encoder.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <string_view>

namespace film {

namespace {

// The encoder of a codec that this program prefers to FFmpeg's first.
const char* preferred(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_H264:
        return "libx264";
    case AV_CODEC_ID_HEVC:
        return "libx265";
    case AV_CODEC_ID_VP9:
        return "libvpx-vp9";
    case AV_CODEC_ID_VP8:
        return "libvpx";
    case AV_CODEC_ID_AV1:
        return "libsvtav1";
    default:
        return nullptr;
    }
}

// A software encoder of `codec`: the preferred one, else any that is
// neither hardware nor experimental.
const AVCodec* softwareEncoder(AVCodecID codec)
{
    if (const char* name = preferred(codec))
        if (const AVCodec* found = avcodec_find_encoder_by_name(name))
            return found;
    void* at = nullptr;
    while (const AVCodec* candidate = av_codec_iterate(&at))
        if (av_codec_is_encoder(candidate) && candidate->id == codec &&
            !(candidate->capabilities &
              (AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_EXPERIMENTAL | AV_CODEC_CAP_HYBRID)))
            return candidate;
    return nullptr;
}

bool holds(const AVOutputFormat& container, AVCodecID codec)
{
    return avformat_query_codec(&container, codec, FF_COMPLIANCE_NORMAL) == 1;
}

bool takes(const AVCodec& codec, AVPixelFormat format)
{
    if (!codec.pix_fmts)
        return false;
    for (const AVPixelFormat* each = codec.pix_fmts; *each != AV_PIX_FMT_NONE; ++each)
        if (*each == format)
            return true;
    return false;
}

bool named(const AVCodec& codec, std::string_view name) { return codec.name == name; }

int onScale(int quality, int worst) { return int(std::lround(worst * (100.0 - quality) / 99.0)); }

} // namespace

EncoderChoice chooseEncoder(const AVCodecParameters& source, const AVOutputFormat& container)
{
    const auto format = AVPixelFormat(source.format);
    if (const AVCodec* same = softwareEncoder(source.codec_id);
        same && holds(container, source.codec_id) && same->pix_fmts) {
        if (takes(*same, format))
            return {same, format};
        const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(format);
        const bool alpha = described && (described->flags & AV_PIX_FMT_FLAG_ALPHA);
        return {same, avcodec_find_best_pix_fmt_of_list(same->pix_fmts, format, alpha, nullptr)};
    }
    const AVCodecID fallback =
        holds(container, AV_CODEC_ID_H264) ? AV_CODEC_ID_H264 : AV_CODEC_ID_VP9;
    return {softwareEncoder(fallback), AV_PIX_FMT_YUV420P};
}

void setQuality(const AVCodec& codec, std::optional<int> quality, AVCodecContext& context,
                AVDictionary** options)
{
    const bool x26x = named(codec, "libx264") || named(codec, "libx265");
    const bool crf63 = named(codec, "libvpx") || named(codec, "libvpx-vp9") ||
                       named(codec, "libaom-av1") || named(codec, "libsvtav1");
    if (x26x && quality)
        av_dict_set_int(options, "crf", onScale(*quality, 51), 0);
    else if (crf63) {
        av_dict_set_int(options, "crf", quality ? onScale(*quality, 63) : 30, 0);
        context.bit_rate = 0;
    } else if (quality && !x26x) {
        context.flags |= AV_CODEC_FLAG_QSCALE;
        context.global_quality = FF_QP2LAMBDA * (1 + onScale(*quality, 30));
    }
}

} // namespace film
