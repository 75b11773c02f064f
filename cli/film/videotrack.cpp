// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/videotrack.h"

#include "film/encoder.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace film {

namespace {

// Beyond any camera's picture, within what every encoder takes.
constexpr int widest = 16384;
// Pictures an encoder may hold back at once; more is no encoder's lookahead.
constexpr std::size_t mostHeldBack = 1024;
// Encoders write other bytes for other thread counts: one count whatever
// -j and the machine, so that a film renders the same in every shard.
constexpr int encoderThreads = 8;

Error checkSize(const AVCodecParameters& source, std::uint64_t maxPixels)
{
    if (source.width <= 0 || source.height <= 0 || source.width > widest || source.height > widest)
        return Error("a video stream of " + std::to_string(source.width) + " x " +
                     std::to_string(source.height) + " pixels is not a picture this program maps");
    if (maxPixels != 0 && std::uint64_t(source.width) * std::uint64_t(source.height) > maxPixels)
        return Error("its pictures of " + std::to_string(source.width) + " x " +
                     std::to_string(source.height) + " pixels exceed --max-pixels");
    return {};
}

// What encoding the stream takes at once, about: x264 holds some 160
// pictures of lookahead, references and frame threads, FFmpeg a few more.
Error checkMemory(const AVCodecParameters& source, std::uint64_t share)
{
    const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(AVPixelFormat(source.format));
    const std::uint64_t sample = described && described->comp[0].depth > 8 ? 2 : 1;
    const std::uint64_t picture =
        std::uint64_t(source.width) * std::uint64_t(source.height) * 3 / 2 * sample;
    const std::uint64_t need = picture * 170 + (std::uint64_t(64) << 20);
    if (share == 0 || need <= share)
        return {};
    return Error("encoding its pictures of " + std::to_string(source.width) + " x " +
                 std::to_string(source.height) + " takes about " + std::to_string(need >> 20) +
                 " MiB, more than a job's share of --max-memory (" + std::to_string(share >> 20) +
                 " MiB): give --max-memory more, or -j fewer jobs");
}

} // namespace

VideoTrack::VideoTrack(AVStream& in, AVStream& out, TrackSettings settings)
    : in_(in), out_(out), settings_(std::move(settings)), decoded_(av_frame_alloc()),
      mapped_(av_frame_alloc()), packet_(av_packet_alloc())
{
}

VideoTrack::~VideoTrack() = default;

std::unique_ptr<VideoTrack> VideoTrack::open(AVStream& in, AVFormatContext& output,
                                             const TrackSettings& settings, Error& error)
{
    if ((error = checkSize(*in.codecpar, settings.maxPixels)) ||
        (error = checkMemory(*in.codecpar, settings.memoryShare)))
        return nullptr;
    AVStream* out = avformat_new_stream(&output, nullptr);
    if (!out) {
        error = Error("cannot add a video stream to the output: no memory");
        return nullptr;
    }
    std::unique_ptr<VideoTrack> track(new VideoTrack(in, *out, settings));
    if (!track->decoded_ || !track->mapped_ || !track->packet_)
        error = Error("cannot decode the film: no memory");
    if (!error)
        error = track->openCodecs(output);
    return error ? nullptr : std::move(track);
}

Error VideoTrack::openDecoder()
{
    const AVCodecParameters& source = *in_.codecpar;
    const AVCodec* decoder = avcodec_find_decoder(source.codec_id);
    if (!decoder)
        return Error(std::string("this build cannot decode its ") +
                     avcodec_get_name(source.codec_id) + " video");
    decoder_.reset(avcodec_alloc_context3(decoder));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), &source) < 0)
        return Error("cannot decode the film: no memory");
    decoder_->pkt_timebase = in_.time_base;
    // As many as FFmpeg sees fit: decoders' output does not depend on it.
    decoder_->thread_count = 0;
    if (const int code = avcodec_open2(decoder_.get(), decoder, nullptr); code < 0)
        return failure(
            std::string("cannot open the ") + avcodec_get_name(source.codec_id) + " decoder", code);
    return {};
}

Error VideoTrack::openCodecs(AVFormatContext& output)
{
    if (Error error = openDecoder())
        return error;
    const AVCodecParameters& source = *in_.codecpar;
    const EncoderChoice choice = chooseEncoder(source, *output.oformat);
    if (!choice.codec)
        return Error("this build has no encoder for the output's video");
    encoder_.reset(avcodec_alloc_context3(choice.codec));
    if (!encoder_)
        return Error("cannot encode the film: no memory");
    AVCodecContext& encoder = *encoder_;
    encoder.width = source.width;
    encoder.height = source.height;
    encoder.pix_fmt = choice.format;
    encoder.sample_aspect_ratio =
        in_.sample_aspect_ratio.num != 0 ? in_.sample_aspect_ratio : source.sample_aspect_ratio;
    encoder.time_base = in_.time_base;
    encoder.framerate = av_guess_frame_rate(nullptr, &in_, nullptr);
    encoder.color_range = source.color_range;
    encoder.colorspace = source.color_space;
    encoder.color_primaries = source.color_primaries;
    encoder.color_trc = source.color_trc;
    encoder.chroma_sample_location = source.chroma_location;
    encoder.field_order = source.field_order;
    encoder.thread_count = encoderThreads;
    if (output.oformat->flags & AVFMT_GLOBALHEADER)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    setQuality(*choice.codec, settings_.quality, encoder, &options);
    const int opened = avcodec_open2(&encoder, choice.codec, &options);
    av_dict_free(&options);
    if (opened < 0)
        return failure(std::string("cannot open the ") + choice.codec->name + " encoder", opened);
    if (avcodec_parameters_from_context(out_.codecpar, &encoder) < 0)
        return Error("cannot describe the output's video: no memory");
    out_.time_base = encoder.time_base;
    out_.avg_frame_rate = in_.avg_frame_rate;
    out_.r_frame_rate = in_.r_frame_rate;
    out_.sample_aspect_ratio = encoder.sample_aspect_ratio;
    out_.disposition = in_.disposition;
    av_dict_copy(&out_.metadata, in_.metadata, 0);
    if (Error error = copySideData(in_, out_, true))
        return error;

    mapped_->format = choice.format;
    mapped_->width = source.width;
    mapped_->height = source.height;
    mapper_ = std::make_unique<FrameMapper>(conversionFor(source), source.width, source.height,
                                            settings_.a);
    return {};
}

Error VideoTrack::feed(const AVPacket* packet, Muxer& muxer)
{
    if (const int code = avcodec_send_packet(decoder_.get(), packet);
        code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_EOF)
        return failure("cannot decode the film's video", code);
    for (;;) {
        const int code = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (code == AVERROR(EAGAIN))
            return {};
        if (code == AVERROR_EOF)
            return encode(nullptr, muxer);
        if (code < 0)
            return failure("cannot decode the film's video", code);
        AVFrame& frame = *decoded_;
        std::int64_t pts = frame.best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
            pts = nextPts_ != AV_NOPTS_VALUE ? nextPts_ : 0;
        if (firstPts_ == AV_NOPTS_VALUE)
            firstPts_ = pts;
        nextPts_ = pts + std::max<std::int64_t>(frame.pkt_duration, 1);
        const std::int64_t at = av_rescale_q(pts - firstPts_, in_.time_base, {1, 1000});
        // One picture's memory, used again once the encoder let go of it.
        if ((mapped_->buf[0] ? av_frame_make_writable(mapped_.get())
                             : av_frame_get_buffer(mapped_.get(), 0)) < 0)
            return Error("cannot map the film: no memory");
        if (!shown_)
            shown_.emplace(*settings_.schedule);
        if (!mapper_->map(frame, shown_->at(at), *mapped_))
            return Error("a picture of the film changes its size or cannot be converted to RGB");
        mapped_->pts = pts;
        mapped_->pict_type = AV_PICTURE_TYPE_NONE;
        if (frame.pkt_duration > 0)
            durations_[pts] = frame.pkt_duration;
        av_frame_unref(decoded_.get());
        if (Error error = encode(mapped_.get(), muxer))
            return error;
    }
}

Error VideoTrack::encode(const AVFrame* frame, Muxer& muxer)
{
    if (const int code = avcodec_send_frame(encoder_.get(), frame); code < 0 && code != AVERROR_EOF)
        return failure("cannot encode the film's video", code);
    for (;;) {
        const int code = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            break;
        if (code < 0)
            return failure("cannot encode the film's video", code);
        if (const auto found = durations_.find(packet_->pts); found != durations_.end()) {
            packet_->duration = found->second;
            durations_.erase(found);
        }
        ++frames_;
        if (Error error = muxer.write(*packet_, encoder_->time_base, out_.index))
            return error;
        if (settings_.framed)
            settings_.framed();
    }
    if (durations_.size() > mostHeldBack)
        durations_.erase(durations_.begin());
    return {};
}

} // namespace film
