// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/descriptorio.h"
#include "film/film.h"
#include "film/libav.h"
#include "film/muxer.h"

#include "leveltable.h"
#include "samplemapper.h"

#include <cstring>
#include <string>

// A show from one picture, written as a film: every pass one picture of the
// film, lasting one pass.
namespace film {

namespace {

struct FreeOutput {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

// The usual video of the container: H.264 in yuv420p, VP9 in WebM.
const AVCodec* showEncoder(const AVOutputFormat& container)
{
    const bool h264 = avformat_query_codec(&container, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1;
    return avcodec_find_encoder_by_name(h264 ? "libx264" : "libvpx-vp9");
}

// The picture, on even sides (yuv420p halves them), its last column and
// row repeated where a side is odd.
Frame evenPicture(const Still& still)
{
    Frame frame(av_frame_alloc());
    if (!frame)
        return frame;
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = still.width + still.width % 2;
    frame->height = still.height + still.height % 2;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    for (int row = 0; row < frame->height; ++row) {
        const std::uint8_t* from =
            still.rgb + std::size_t(std::min(row, still.height - 1)) * still.stride;
        std::uint8_t* to = frame->data[0] + std::ptrdiff_t(row) * frame->linesize[0];
        std::memcpy(to, from, std::size_t(still.width) * 3);
        if (frame->width > still.width)
            std::memcpy(to + std::size_t(still.width) * 3, from + std::size_t(still.width - 1) * 3,
                        3);
    }
    return frame;
}

} // namespace

namespace {

// Sets the show's encoder up for pictures like `rgb`, coloured as players
// take an untagged film of that size, at the quality -Q asks.
Error openEncoder(AVCodecContext& encoder, const AVCodec& codec, const AVFrame& rgb,
                  const AVOutputFormat& container, const FilmJob& job)
{
    const bool hd = rgb.width >= 1280 || rgb.height > 576;
    encoder.width = rgb.width;
    encoder.height = rgb.height;
    encoder.pix_fmt = AV_PIX_FMT_YUV420P;
    encoder.time_base = {1, 1000};
    encoder.framerate = {1000, transform::PassSchedule::paceMilliseconds};
    encoder.color_range = AVCOL_RANGE_MPEG;
    encoder.colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    encoder.color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    encoder.color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    encoder.thread_count = 8;
    if (container.flags & AVFMT_GLOBALHEADER)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (job.quality)
        av_dict_set_int(&options, "crf", std::lround(51.0 * (100 - *job.quality) / 99.0), 0);
    if (std::string_view(codec.name) == "libvpx-vp9") {
        av_dict_set_int(&options, "crf",
                        job.quality ? std::lround(63.0 * (100 - *job.quality) / 99.0) : 30,
                        AV_DICT_DONT_OVERWRITE);
        encoder.bit_rate = 0;
    }
    const int opened = avcodec_open2(&encoder, &codec, &options);
    av_dict_free(&options);
    return opened < 0 ? failure("cannot open the show's encoder", opened) : Error();
}

// The show's one stream, described as its encoder makes it, and the header.
Error writeHeader(AVFormatContext& output, AVStream& stream, const AVCodecContext& encoder,
                  const FilmJob& job)
{
    if (avcodec_parameters_from_context(stream.codecpar, &encoder) < 0)
        return Error("cannot describe the show: no memory");
    stream.time_base = encoder.time_base;
    stream.avg_frame_rate = stream.r_frame_rate = encoder.framerate;
    AVDictionary* muxing = nullptr;
    if (job.format->fastStart)
        av_dict_set(&muxing, "movflags", "+faststart", 0);
    const int header = avformat_write_header(&output, &muxing);
    av_dict_free(&muxing);
    return header < 0 ? failure("cannot write the show's header", header) : Error();
}

// Encodes the passes, each the picture mapped on its pass's branch and
// shown for one pace, and what the encoder still holds.
Error encodePasses(const AVFrame& rgb, int passes, AVCodecContext& encoder, const AVStream& stream,
                   Muxer& writer, const FilmJob& job)
{
    const Scaler scaler(sws_getContext(rgb.width, rgb.height, AV_PIX_FMT_RGB24, rgb.width,
                                       rgb.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr));
    const Frame mapped(av_frame_alloc());
    const Frame picture(av_frame_alloc());
    const Packet packet(av_packet_alloc());
    if (!scaler || !mapped || !picture || !packet)
        return Error("cannot make the show: no memory");
    const int* coefficients = sws_getCoefficients(encoder.colorspace);
    sws_setColorspaceDetails(scaler.get(), coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    const transform::SampleMapper lower(
        transform::LevelTable(255, job.a, transform::Branch::Lower));
    const transform::SampleMapper upper(
        transform::LevelTable(255, job.a, transform::Branch::Upper));
    const auto drain = [&]() -> Error {
        for (;;) {
            const int code = avcodec_receive_packet(&encoder, packet.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
                return {};
            if (code < 0)
                return failure("cannot encode the show", code);
            packet->duration = transform::PassSchedule::paceMilliseconds;
            if (Error error = writer.write(*packet, encoder.time_base, stream.index))
                return error;
        }
    };
    for (int pass = 0; pass < passes; ++pass) {
        mapped->format = AV_PIX_FMT_RGB24;
        mapped->width = rgb.width;
        mapped->height = rgb.height;
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = rgb.width;
        picture->height = rgb.height;
        if (av_frame_get_buffer(mapped.get(), 0) < 0 || av_frame_get_buffer(picture.get(), 0) < 0)
            return Error("cannot make the show: no memory");
        const transform::SampleMapper& mapper =
            job.schedule->ofPass(pass) == transform::Branch::Lower ? lower : upper;
        for (int row = 0; row < rgb.height; ++row)
            mapper.map(rgb.data[0] + std::ptrdiff_t(row) * rgb.linesize[0],
                       mapped->data[0] + std::ptrdiff_t(row) * mapped->linesize[0],
                       std::size_t(rgb.width), {3, 3});
        sws_scale(scaler.get(), mapped->data, mapped->linesize, 0, rgb.height, picture->data,
                  picture->linesize);
        picture->pts = std::int64_t(pass) * transform::PassSchedule::paceMilliseconds;
        const int sent = avcodec_send_frame(&encoder, picture.get());
        av_frame_unref(mapped.get());
        av_frame_unref(picture.get());
        if (sent < 0)
            return failure("cannot encode the show", sent);
        if (Error error = drain())
            return error;
        if (job.progress)
            job.progress(pass + 1);
    }
    if (avcodec_send_frame(&encoder, nullptr) < 0)
        return Error("cannot finish the show");
    return drain();
}

} // namespace

Outcome renderShow(const Still& still, int passes, const FilmJob& job)
{
    quietLog();
    if (!still.rgb || still.width <= 0 || still.height <= 0 || still.width > 16384 ||
        still.height > 16384)
        return Outcome::failed(Error("the picture is too large for a film"));
    AVFormatContext* made = nullptr;
    const std::string muxer(job.format->muxer);
    if (avformat_alloc_output_context2(&made, nullptr, muxer.c_str(), nullptr) < 0 || !made)
        return Outcome::failed(Error("this build cannot write " + std::string(job.format->title)));
    const std::unique_ptr<AVFormatContext, FreeOutput> output(made);
    const Io io = writingOutput(*job.output);
    output->url = av_strdup("output");
    if (!io || !output->url)
        return Outcome::failed(Error("cannot write the film: no memory"));
    output->pb = io.get();
    output->flags |= AVFMT_FLAG_BITEXACT;
    openOnlyOutput(output.get(), job.output);

    const AVCodec* codec = showEncoder(*output->oformat);
    const Frame rgb = evenPicture(still);
    const CodecContext encoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    if (!codec || !rgb || !encoder || !stream)
        return Outcome::failed(Error("cannot make the show's film: no encoder or no memory"));
    if (Error error = openEncoder(*encoder, *codec, *rgb, *output->oformat, job))
        return Outcome::failed(error);
    if (Error error = writeHeader(*output, *stream, *encoder, job))
        return Outcome::failed(error);
    Muxer writer(output.get());
    if (Error error = encodePasses(*rgb, passes, *encoder, *stream, writer, job))
        return Outcome::failed(error);
    if (const int code = av_write_trailer(output.get()); code < 0)
        return Outcome::failed(failure("cannot finish the show", code));
    if (io->error < 0)
        return Outcome::failed(failure("cannot write the show", io->error));
    return Outcome::rendered();
}

} // namespace film
