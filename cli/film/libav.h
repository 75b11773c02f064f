// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

// Owners for FFmpeg's objects, and its errors as the program's.
namespace film {

struct FreeCodec {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeScaler {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

using CodecContext = std::unique_ptr<AVCodecContext, FreeCodec>;
using Frame = std::unique_ptr<AVFrame, FreeFrame>;
using Packet = std::unique_ptr<AVPacket, FreePacket>;
using Scaler = std::unique_ptr<SwsContext, FreeScaler>;

// FFmpeg's words for an error code, after what was being done.
std::string describe(int code);
Error failure(const std::string& doing, int code);

// The last error FFmpeg's libraries logged for this job, if any: a
// decoder's own reason reads better than its error code.
std::string lastLogged();
// Keeps FFmpeg's log off standard error, remembering its last error line.
void quietLog();

} // namespace film
