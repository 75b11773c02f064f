#include "png/inputchunks.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

std::uint32_t bigEndian(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

bool readAt(int fd, void* data, std::size_t size, off_t at)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, bytes, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}

bool isText(std::string_view type) { return type == "tEXt" || type == "zTXt" || type == "iTXt"; }

bool isColour(std::string_view type)
{
    return type == "gAMA" || type == "cHRM" || type == "sRGB" || type == "sBIT" || type == "pHYs";
}

} // namespace

InputChunks inputChunks(const std::string& path)
{
    InputChunks found;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return found;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char start[8];
    std::uint64_t kept = 0;
    off_t at = 8;
    if (readAt(fd, start, 8, 0) && std::memcmp(start, signature, 8) == 0) {
        for (int walked = 0; walked < maxInputChunks; ++walked) {
            unsigned char head[8];
            if (!readAt(fd, head, 8, at))
                break;
            const std::uint32_t length = bigEndian(head);
            const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
            if (length > 0x7fffffffu)
                break;
            if (type == "IDAT") {
                found.read = true;
                break;
            }
            const bool wanted = isText(type) || isColour(type) || type == "IHDR";
            if (wanted && kept + length <= maxKeptBytes) {
                PngChunk chunk{type, std::vector<unsigned char>(length)};
                unsigned char crc[4];
                if (!readAt(fd, chunk.data.data(), length, at + 8) ||
                    !readAt(fd, crc, 4, at + 8 + off_t(length)))
                    break;
                uLong computed = crc32(0, head + 4, 4);
                computed = crc32_z(computed, chunk.data.data(), chunk.data.size());
                // A damaged chunk is left behind, as a decoder skips it.
                if (std::uint32_t(computed) == bigEndian(crc)) {
                    if (type == "IHDR" && length == 13) {
                        found.bitDepth = chunk.data[8];
                        found.colourType = chunk.data[9];
                    } else if (type != "IHDR") {
                        kept += length;
                        (isText(type) ? found.text : found.colour).push_back(std::move(chunk));
                    }
                }
            }
            at += off_t(length) + 12;
        }
    }
    ::close(fd);
    if (!found.read)
        return {};
    return found;
}
