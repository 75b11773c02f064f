// SPDX-License-Identifier: GPL-3.0-or-later
#include "netpbm/moreimages.h"

#include <cctype>

namespace netpbm {

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)); }
bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)); }

} // namespace

void MoreImagesWatch::see(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size && !done(); ++i, ++passed_) {
        if (state_ != State::Done)
            seeHeader(data[i]);
        else if (passed_ >= *end_)
            more_ = !isSpace(data[i]);
    }
}

// The header as the stream reader takes it: "P5" or "P6", then width, height
// and maxval, each after white space or comments and each ended by one white
// space character.
void MoreImagesWatch::seeHeader(char c)
{
    switch (state_) {
    case State::Magic:
        if (passed_ == 0 && c == 'P')
            return;
        kind_ = c;
        state_ = passed_ == 1 && (c == '5' || c == '6') ? State::Space : State::NotAHeader;
        return;
    case State::Comment:
        if (c == '\n' || c == '\r')
            state_ = State::Space;
        return;
    case State::Space:
        if (c == '#')
            state_ = State::Comment;
        else if (isDigit(c))
            state_ = State::Digits;
        else if (!isSpace(c))
            state_ = State::NotAHeader;
        if (state_ != State::Digits)
            return;
        [[fallthrough]];
    case State::Digits:
        if (isDigit(c)) {
            values_[field_] = values_[field_] * 10 + std::uint64_t(c - '0');
            state_ = ++digits_ > 10 ? State::NotAHeader : State::Digits;
            return;
        }
        if (!isSpace(c) || values_[field_] == 0 ||
            values_[field_] > (field_ == 2 ? 65535u : 1u << 30)) {
            state_ = State::NotAHeader;
            return;
        }
        digits_ = 0;
        if (++field_ < 3) {
            state_ = State::Space;
            return;
        }
        state_ = State::Done;
        end_ = passed_ + 1 +
               values_[0] * values_[1] * (kind_ == '6' ? 3u : 1u) * (values_[2] > 255 ? 2u : 1u);
        return;
    case State::Done:
    case State::NotAHeader:
        return;
    }
}

} // namespace netpbm
