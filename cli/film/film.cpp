// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/film.h"

#include "film/copies.h"
#include "film/descriptorio.h"
#include "film/encoder.h"
#include "film/libav.h"
#include "film/muxer.h"
#include "film/videotrack.h"
#include "formats/formats.h"

#include <memory>
#include <string>
#include <vector>

namespace film {

namespace {

// More streams than any camera or disc writes is a trap, not a film.
constexpr unsigned mostStreams = 64;

struct CloseInput {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct FreeOutput {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
using Input = std::unique_ptr<AVFormatContext, CloseInput>;
using Output = std::unique_ptr<AVFormatContext, FreeOutput>;

Error openInput(int fd, Io& io, Input& input)
{
    io = readingDescriptor(fd);
    AVFormatContext* context = avformat_alloc_context();
    if (!io || !context) {
        avformat_free_context(context);
        return Error("cannot read the film: no memory");
    }
    context->pb = io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    openNothing(context);
    AVDictionary* options = nullptr;
    // Only the demuxers of the containers films are written in.
    av_dict_set(&options, "format_whitelist", formats::filmContainers().c_str(), 0);
    av_dict_set(&options, "protocol_whitelist", "", 0);
    const int opened = avformat_open_input(&context, "film", nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return failure("not a film this program reads", opened);
    input.reset(context);
    if (input->nb_streams > mostStreams)
        return Error("it has " + std::to_string(input->nb_streams) + " streams, more than " +
                     std::to_string(mostStreams));
    if (const int code = avformat_find_stream_info(input.get(), nullptr); code < 0)
        return failure("cannot read the film's streams", code);
    if (input->nb_streams > mostStreams)
        return Error("it has more than " + std::to_string(mostStreams) + " streams");
    return {};
}

Error openOutput(const FilmJob& job, Io& io, Output& output)
{
    AVFormatContext* context = nullptr;
    const std::string muxer(job.format->muxer);
    if (avformat_alloc_output_context2(&context, nullptr, muxer.c_str(), nullptr) < 0 || !context)
        return Error("this build cannot write " + std::string(job.format->title));
    output.reset(context);
    io = writingOutput(*job.output);
    context->url = av_strdup("output");
    if (!io || !context->url)
        return Error("cannot write the film: no memory");
    context->pb = io.get();
    // No time of the rendering in the file: a film renders to the same
    // bytes in every run, and keeps the creation time it had.
    context->flags |= AVFMT_FLAG_BITEXACT;
    openOnlyOutput(context, job.output);
    return {};
}

bool isPicture(const AVStream& stream)
{
    return stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// What becomes of each input stream: mapped by a track, copied into an
// output stream, or left out (a cover picture, which would show the film
// unrendered).
struct Route {
    std::unique_ptr<VideoTrack> track;
    int copiedTo = -1;
};

void muxerOptions(const AVFormatContext& input, const FilmJob& job, AVDictionary** options)
{
    if (job.format->fastStart) {
        // The index before the pictures, so that a browser plays while it loads.
        std::string flags = "+faststart";
        if (hasKeyedMetadata(input))
            flags += "+use_metadata_tags";
        av_dict_set(options, "movflags", flags.c_str(), 0);
    }
}

Error routeStreams(AVFormatContext& input, AVFormatContext& output, const FilmJob& job,
                   const TrackSettings& settings, std::vector<Route>& routes, Warnings& warnings)
{
    routes.resize(input.nb_streams);
    int pictures = 0;
    for (unsigned n = 0; n < input.nb_streams; ++n) {
        AVStream& stream = *input.streams[n];
        // What the demuxer set aside: a QuickTime chapter track, whose
        // chapters go across as chapters (the muxer makes the track anew).
        if (stream.discard == AVDISCARD_ALL && stream.codecpar->codec_type == AVMEDIA_TYPE_DATA &&
            input.nb_chapters > 0)
            continue;
        stream.discard = AVDISCARD_DEFAULT;
        if (isPicture(stream)) {
            Error error;
            routes[n].track = VideoTrack::open(stream, output, settings, error);
            if (error)
                return error;
            ++pictures;
        } else if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            stream.discard = AVDISCARD_ALL;
            warnings.add("its cover picture is left out, as it would show the film unrendered");
        } else if (stream.codecpar->codec_type == AVMEDIA_TYPE_DATA &&
                   avformat_query_codec(output.oformat, stream.codecpar->codec_id,
                                        FF_COMPLIANCE_NORMAL) != 1) {
            // A phone's timed metadata, which FFmpeg reads but no muxer of
            // its writes: no container would keep it, so it is left out, said.
            stream.discard = AVDISCARD_ALL;
            char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
            av_fourcc_make_string(tag, stream.codecpar->codec_tag);
            warnings.add(std::string("its data stream ") + tag +
                         " is left out: " + output.oformat->long_name + " cannot hold it as it is");
        } else {
            routes[n].copiedTo = int(output.nb_streams);
            if (Error error = addCopiedStream(stream, output, job.format->holdsAttachments))
                return error;
        }
    }
    if (pictures == 0)
        return Error("it holds no video stream");
    return {};
}

// Every packet of the film, in order: a video stream's decoded, mapped and
// encoded again, another's copied; then what the encoders still hold.
Error passPackets(AVFormatContext& input, std::vector<Route>& routes, Muxer& muxer)
{
    const Packet packet(av_packet_alloc());
    if (!packet)
        return Error("cannot read the film: no memory");
    for (;;) {
        const int code = av_read_frame(&input, packet.get());
        if (code == AVERROR_EOF)
            break;
        if (code < 0)
            return failure("cannot read the film", code);
        if (packet->flags & AV_PKT_FLAG_CORRUPT)
            return Error("the film is cut short or damaged");
        const auto stream = unsigned(packet->stream_index);
        Error error;
        if (stream < routes.size() && routes[stream].track)
            error = routes[stream].track->feed(packet.get(), muxer);
        else if (stream < routes.size() && routes[stream].copiedTo >= 0)
            error = muxer.write(*packet, input.streams[stream]->time_base, routes[stream].copiedTo);
        av_packet_unref(packet.get());
        if (error)
            return error;
    }
    for (Route& route : routes)
        if (route.track) {
            if (Error error = route.track->feed(nullptr, muxer))
                return error;
            if (route.track->frames() == 0)
                return Error("a video stream of the film holds no picture");
        }
    return {};
}

} // namespace

Outcome renderFilm(const FilmJob& job)
{
    quietLog();
    Io inputIo;
    Input input;
    if (Error error = openInput(job.input, inputIo, input))
        return Outcome::failed(error);
    Io outputIo;
    Output output;
    if (Error error = openOutput(job, outputIo, output))
        return Outcome::failed(error);

    std::int64_t pictures = 0;
    TrackSettings settings{job.a, job.schedule, job.quality, job.maxPixels, job.memoryShare, [&] {
                               if (job.progress)
                                   job.progress(++pictures);
                           }};
    std::vector<Route> routes;
    Warnings warnings;
    if (Error error = routeStreams(*input, *output, job, settings, routes, warnings))
        return Outcome::failed(error);
    if (Error error = copyChaptersAndMetadata(*input, *output))
        return Outcome::failed(error);
    AVDictionary* options = nullptr;
    muxerOptions(*input, job, &options);
    const int header = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (header < 0)
        return Outcome::failed(failure("cannot write the film's header", header));

    Muxer muxer(output.get());
    if (Error error = passPackets(*input, routes, muxer))
        return Outcome::failed(error);
    if (const int code = av_write_trailer(output.get()); code < 0)
        return Outcome::failed(failure("cannot finish the film", code));
    if (outputIo->error < 0)
        return Outcome::failed(failure("cannot write the film", outputIo->error));
    return warnings.outcome();
}

} // namespace film
