// SPDX-License-Identifier: GPL-3.0-or-later
// The program's reader of a job process's frames, fed what a process taken
// over by a hostile file could send, in pieces of any size: it must never
// crash, hold more than one frame, or let a control character through.
#include "workers/protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the pieces' size, the rest is what was sent.
    const std::size_t piece = std::size_t(data[0] % 32) + 1;
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    workers::protocol::AnswerReader reader(0);
    for (std::size_t at = 0; at + 1 < size; at += piece)
        if (reader.feed(std::string_view(bytes + at, std::min(piece, size - 1 - at))))
            break;
    (void)reader.ended();
    if (const auto& answer = reader.answer()) {
        const std::string& reason = answer->reason();
        if (std::any_of(reason.begin(), reason.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
            std::abort();
        if (answer->kind() == Outcome::Kind::Skipped)
            std::abort();
    }
    return 0;
}
