// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace netpbm {

// Watches the bytes of a stream, as they pass, for anything after its first
// binary PPM or PGM image: a stream of several images converted to a format
// that holds one must not lose the rest silently. It keeps no bytes, so
// headers with comments of any length and any amount of white space between
// images are seen through.
class MoreImagesWatch {
public:
    // Called with each part of the stream in order.
    void see(const char* data, std::size_t size);
    // Whether anything but white space followed the first image.
    bool seen() const { return more_; }
    // Whether watching on can tell no more: something was seen, or the
    // stream starts with no binary PPM or PGM header.
    bool done() const { return more_ || state_ == State::NotAHeader; }
    // Where the first image ends, once its header has passed; never when the
    // stream starts with no binary PPM or PGM header.
    std::optional<std::uint64_t> firstImageEnd() const { return end_; }
    // Skips bytes of the first image's pixels, which need not be seen:
    // `offset` is at most firstImageEnd().
    void skipTo(std::uint64_t offset) { passed_ = offset; }
    std::uint64_t passed() const { return passed_; }

private:
    void seeHeader(char c);

    enum class State { Magic, Space, Comment, Digits, Done, NotAHeader };
    State state_ = State::Magic;
    char kind_ = 0;
    int field_ = 0; // width, height, maxval
    int digits_ = 0;
    std::uint64_t values_[3] = {};
    std::uint64_t passed_ = 0;
    std::optional<std::uint64_t> end_;
    bool more_ = false;
};

} // namespace netpbm
