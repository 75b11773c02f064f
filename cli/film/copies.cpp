// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/copies.h"

#include <cstring>
#include <string>

namespace film {

namespace {

// More chapters than a disc's menu holds is no film's.
constexpr unsigned mostChapters = 10000;

} // namespace

Error addCopiedStream(const AVStream& in, AVFormatContext& output, bool holdsAttachments)
{
    const AVCodecParameters& source = *in.codecpar;
    // A stream whose codec the container does not know cannot go across
    // as it is; the film is refused rather than written without it.
    if (source.codec_type != AVMEDIA_TYPE_ATTACHMENT &&
        avformat_query_codec(output.oformat, source.codec_id, FF_COMPLIANCE_NORMAL) != 1)
        return Error(std::string("its ") + av_get_media_type_string(source.codec_type) + " (" +
                     avcodec_get_name(source.codec_id) + ") cannot go into " +
                     output.oformat->long_name + " as it is; choose another container");
    if (source.codec_type == AVMEDIA_TYPE_ATTACHMENT && !holdsAttachments)
        return Error(std::string("its attachment cannot go into ") + output.oformat->long_name +
                     "; choose .mkv");
    AVStream* out = avformat_new_stream(&output, nullptr);
    if (!out || avcodec_parameters_copy(out->codecpar, &source) < 0)
        return Error("cannot copy a stream: no memory");
    // A tag of another container's means nothing in this one.
    if (av_codec_get_id(output.oformat->codec_tag, source.codec_tag) != source.codec_id)
        out->codecpar->codec_tag = 0;
    out->time_base = in.time_base;
    out->disposition = in.disposition;
    out->avg_frame_rate = in.avg_frame_rate;
    out->r_frame_rate = in.r_frame_rate;
    out->sample_aspect_ratio = in.sample_aspect_ratio;
    av_dict_copy(&out->metadata, in.metadata, 0);
    for (int n = 0; n < in.nb_side_data; ++n) {
        const AVPacketSideData& side = in.side_data[n];
        std::uint8_t* copy = av_stream_new_side_data(out, side.type, side.size);
        if (!copy)
            return Error("cannot copy a stream's side data: no memory");
        std::memcpy(copy, side.data, side.size);
    }
    return {};
}

Error copyChaptersAndMetadata(const AVFormatContext& input, AVFormatContext& output)
{
    av_dict_copy(&output.metadata, input.metadata, 0);
    if (input.nb_chapters == 0)
        return {};
    if (input.nb_chapters > mostChapters)
        return Error("it has " + std::to_string(input.nb_chapters) + " chapters, more than " +
                     std::to_string(mostChapters));
    output.chapters = static_cast<AVChapter**>(av_calloc(input.nb_chapters, sizeof(AVChapter*)));
    if (!output.chapters)
        return Error("cannot copy the chapters: no memory");
    for (unsigned n = 0; n < input.nb_chapters; ++n) {
        const AVChapter& from = *input.chapters[n];
        auto* to = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!to)
            return Error("cannot copy the chapters: no memory");
        output.chapters[output.nb_chapters++] = to;
        to->id = from.id;
        to->time_base = from.time_base;
        to->start = from.start;
        to->end = from.end;
        av_dict_copy(&to->metadata, from.metadata, 0);
    }
    return {};
}

bool hasKeyedMetadata(const AVFormatContext& input)
{
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(input.metadata, "", entry, AV_DICT_IGNORE_SUFFIX)))
        if (std::strncmp(entry->key, "com.apple.quicktime.", 20) == 0)
            return true;
    return false;
}

} // namespace film
