// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "film/colour.h"
#include "film/libav.h"
#include "film/muxer.h"
#include "passschedule.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// One video stream of a film: its packets decoded, every picture mapped
// (on the branch the schedule gives its time), encoded again and written,
// each with the timestamp and duration it came with.
namespace film {

struct TrackSettings {
    float a = 4.0f;
    const transform::PassSchedule* schedule = nullptr;
    std::optional<int> quality;
    std::uint64_t maxPixels = 0;   // 0: no limit
    std::uint64_t memoryShare = 0; // 0: no limit
    std::function<void()> framed;  // told after each picture is encoded
};

class VideoTrack {
public:
    // Sets up output stream `out` of `output` for input stream `in`; the
    // error says why the stream cannot be rendered.
    static std::unique_ptr<VideoTrack> open(AVStream& in, AVFormatContext& output,
                                            const TrackSettings& settings, Error& error);
    ~VideoTrack();
    VideoTrack(const VideoTrack&) = delete;
    VideoTrack& operator=(const VideoTrack&) = delete;

    // Decodes `packet` (nothing: the input ended) and writes what it
    // completes.
    Error feed(const AVPacket* packet, Muxer& muxer);
    std::int64_t frames() const { return frames_; }

private:
    VideoTrack(AVStream& in, AVStream& out, TrackSettings settings);
    Error openDecoder();
    Error openCodecs(AVFormatContext& output);
    Error encode(const AVFrame* frame, Muxer& muxer);

    AVStream& in_;
    AVStream& out_;
    TrackSettings settings_;
    CodecContext decoder_;
    CodecContext encoder_;
    std::unique_ptr<FrameMapper> mapper_;
    std::optional<transform::ShownBranches> shown_;
    Frame decoded_;
    Frame mapped_;
    Packet packet_;
    std::int64_t firstPts_ = AV_NOPTS_VALUE;
    std::int64_t nextPts_ = AV_NOPTS_VALUE;
    std::int64_t frames_ = 0;
    // Each picture's duration by its timestamp, for its packet: encoders
    // that hold pictures back lose it.
    std::map<std::int64_t, std::int64_t> durations_;
};

} // namespace film
