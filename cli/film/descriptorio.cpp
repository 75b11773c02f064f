// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/descriptorio.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace film {

namespace {

constexpr int bufferSize = 1 << 16;

// A descriptor read at a position of its own, so that a read-back of the
// output does not move where the muxer writes.
struct Positioned {
    int fd;
    std::int64_t at = 0;
};

std::int64_t sizeOf(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? std::int64_t(status.st_size) : AVERROR(errno);
}

int readPositioned(void* opaque, std::uint8_t* data, int size)
{
    auto* source = static_cast<Positioned*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(source->fd, data, std::size_t(size), off_t(source->at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        source->at += n;
        return int(n);
    }
}

std::int64_t seekPositioned(void* opaque, std::int64_t offset, int whence)
{
    auto* source = static_cast<Positioned*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return sizeOf(source->fd);
    std::int64_t base = 0;
    if (whence == SEEK_CUR)
        base = source->at;
    else if (whence == SEEK_END)
        base = sizeOf(source->fd);
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    if (base < 0 || offset > INT64_MAX - base || base + offset < 0)
        return AVERROR(EINVAL);
    source->at = base + offset;
    return source->at;
}

int writeOutput(void* opaque, std::uint8_t* data, int size)
{
    auto* output = static_cast<fileio::OutputFile*>(opaque);
    if (output->write(reinterpret_cast<const char*>(data), std::size_t(size)))
        return AVERROR(EIO);
    return size;
}

std::int64_t seekOutput(void* opaque, std::int64_t offset, int whence)
{
    auto* output = static_cast<fileio::OutputFile*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        const std::int64_t here = output->seek(0, SEEK_CUR);
        const std::int64_t end = output->seek(0, SEEK_END);
        if (here >= 0)
            (void)output->seek(here, SEEK_SET);
        return end < 0 ? AVERROR(errno) : end;
    }
    const std::int64_t at = output->seek(offset, whence);
    return at < 0 ? AVERROR(errno) : at;
}

Io positioned(int fd)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    auto* source = new Positioned{fd};
    AVIOContext* io = buffer ? avio_alloc_context(buffer, bufferSize, 0, source, readPositioned,
                                                  nullptr, seekPositioned)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        delete source;
    }
    return Io(io);
}

int refuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

// The muxer's own output, read back; anything else refused.
int openOutputAgain(AVFormatContext* context, AVIOContext** io, const char* url, int flags,
                    AVDictionary**)
{
    auto* output = static_cast<fileio::OutputFile*>(context->opaque);
    if (!output || !url || std::strcmp(url, context->url ? context->url : "") != 0 ||
        (flags & AVIO_FLAG_WRITE))
        return AVERROR(EPERM);
    Io again = positioned(output->descriptor());
    if (!again)
        return AVERROR(ENOMEM);
    *io = again.release();
    return 0;
}

int closeOpened(AVFormatContext*, AVIOContext* io)
{
    FreeIo()(io);
    return 0;
}

} // namespace

void FreeIo::operator()(AVIOContext* io) const
{
    if (!io)
        return;
    if (io->read_packet == readPositioned)
        delete static_cast<Positioned*>(io->opaque);
    av_freep(&io->buffer);
    avio_context_free(&io);
}

Io readingDescriptor(int fd) { return positioned(fd); }

Io writingOutput(fileio::OutputFile& output)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, bufferSize, 1, &output, nullptr,
                                                  writeOutput, seekOutput)
                             : nullptr;
    if (!io)
        av_free(buffer);
    return Io(io);
}

void openOnlyOutput(AVFormatContext* context, fileio::OutputFile* output)
{
    context->opaque = output;
    context->io_open = openOutputAgain;
    context->io_close2 = closeOpened;
}

void openNothing(AVFormatContext* context)
{
    context->io_open = refuseOpen;
    context->io_close2 = closeOpened;
}

} // namespace film
