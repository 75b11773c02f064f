// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/extendedxmp.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string_view>
#include <unistd.h>

namespace metadata {

namespace {

const std::string_view extensionName("http://ns.adobe.com/xmp/extension/\0", 35);
const std::string_view xmpName("http://ns.adobe.com/xap/1.0/\0", 29);
// The name, the digest, the full length and the chunk's offset.
constexpr std::size_t chunkHeader = 35 + 32 + 4 + 4;

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

bool readAt(int fd, std::string& into, std::size_t size, std::size_t at)
{
    into.resize(size);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pread(fd, into.data() + done, size - done, off_t(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

struct Chunk {
    std::uint32_t offset;
    std::string_view data;
};

} // namespace

ExtendedXmp extendedXmpOf(int fd, const std::string& guid, std::size_t limit)
{
    ExtendedXmp found;
    std::size_t held = 0;
    std::uint32_t fullLength = 0;
    std::string marker;
    std::string segment;
    // More segments than a header of any size holds: past them, no more is read.
    for (std::size_t at = 2, walked = 0; walked < 20000; ++walked) {
        if (!readAt(fd, marker, 4, at) || static_cast<unsigned char>(marker[0]) != 0xff)
            break;
        const unsigned code = static_cast<unsigned char>(marker[1]);
        if (code == 0xda || code == 0xd9 ||
            (code >= 0xc0 && code < 0xe0 && code != 0xdb && code != 0xc4 && code != 0xdd))
            break;
        const std::size_t length = std::size_t(static_cast<unsigned char>(marker[2])) << 8 |
                                   static_cast<unsigned char>(marker[3]);
        if (length < 2)
            break;
        if (code == 0xe1 && length >= 2 + chunkHeader) {
            if (!readAt(fd, segment, 2 + length, at))
                break;
            const std::string_view body = std::string_view(segment).substr(4);
            if (body.starts_with(extensionName) && body.substr(35, 32) == guid) {
                held += segment.size();
                if (held > limit)
                    return {};
                fullLength = bigEndian32(body, 67);
                found.segments.push_back(segment);
            }
        }
        at += 2 + length;
    }
    if (found.segments.empty() || fullLength == 0 || fullLength > limit)
        return {};
    // The chunks in order of their offsets must cover the packet once.
    std::vector<Chunk> chunks;
    for (const std::string& whole : found.segments) {
        const std::string_view body = std::string_view(whole).substr(4);
        if (bigEndian32(body, 67) != fullLength)
            return {};
        chunks.push_back({bigEndian32(body, 71), body.substr(chunkHeader)});
    }
    std::sort(chunks.begin(), chunks.end(),
              [](const Chunk& a, const Chunk& b) { return a.offset < b.offset; });
    for (const Chunk& chunk : chunks) {
        if (chunk.offset != found.packet.size() ||
            found.packet.size() + chunk.data.size() > fullLength)
            return {};
        found.packet += chunk.data;
    }
    if (found.packet.size() != fullLength)
        return {};
    return found;
}

void withSegmentsAfterXmp(std::string& header, const std::vector<std::string>& segments)
{
    std::size_t after = 2;
    std::size_t appEnd = 2;
    for (std::size_t at = 2;
         at + 4 <= header.size() && static_cast<unsigned char>(header[at]) == 0xff;) {
        const unsigned code = static_cast<unsigned char>(header[at + 1]);
        const std::size_t length =
            2 + (std::size_t(static_cast<unsigned char>(header[at + 2])) << 8 |
                 static_cast<unsigned char>(header[at + 3]));
        if (at + length > header.size() || !((code >= 0xe0 && code <= 0xef) || code == 0xfe))
            break;
        if (code == 0xe1 && std::string_view(header).substr(at + 4).starts_with(xmpName))
            after = at + length;
        at += length;
        appEnd = at;
    }
    std::string joined;
    for (const std::string& segment : segments)
        joined += segment;
    header.insert(after > 2 ? after : appEnd, joined);
}

} // namespace metadata
