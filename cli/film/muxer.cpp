// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/muxer.h"

#include <cstring>

namespace film {

Error Muxer::write(AVPacket& packet, AVRational timeBase, int stream)
{
    AVStream* to = output_->streams[stream];
    av_packet_rescale_ts(&packet, timeBase, to->time_base);
    packet.stream_index = stream;
    packet.pos = -1;
    if (const int code = av_interleaved_write_frame(output_, &packet); code < 0)
        return failure("cannot write the film", code);
    return {};
}

Error copySideData(const AVStream& from, AVStream& to, bool reencoded)
{
    for (int n = 0; n < from.nb_side_data; ++n) {
        const AVPacketSideData& side = from.side_data[n];
        if (reencoded && side.type == AV_PKT_DATA_CPB_PROPERTIES)
            continue;
        std::uint8_t* copy = av_stream_new_side_data(&to, side.type, side.size);
        if (!copy)
            return Error("cannot copy a stream's side data: no memory");
        std::memcpy(copy, side.data, side.size);
    }
    return {};
}

} // namespace film
