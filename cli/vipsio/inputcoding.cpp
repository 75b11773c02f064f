#include "vipsio/inputcoding.h"

#include "fileio/descriptors.h"

#include <algorithm>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/decode.h>

namespace vipsio {

namespace {

bool losslessWebp(int fd)
{
    // The features are told by the first chunks of the file.
    const std::string start = fileio::firstBytes(fd, std::size_t(64) * 1024);
    WebPBitstreamFeatures features;
    return WebPGetFeatures(reinterpret_cast<const std::uint8_t*>(start.data()), start.size(),
                           &features) == VP8_STATUS_OK &&
           features.format == 2;
}

// libtiff reads the job's descriptor in place, at offsets of its own.
struct InPlace {
    int fd;
    toff_t at = 0;

    static tmsize_t read(thandle_t handle, void* data, tmsize_t size)
    {
        auto* self = static_cast<InPlace*>(handle);
        const ssize_t n = ::pread(self->fd, data, std::size_t(size), off_t(self->at));
        self->at += toff_t(std::max<ssize_t>(n, 0));
        return n;
    }
    static tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        auto* self = static_cast<InPlace*>(handle);
        if (whence == SEEK_SET)
            self->at = offset;
        else if (whence == SEEK_CUR)
            self->at += offset;
        else
            self->at = size(handle) + offset;
        return self->at;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t handle)
    {
        struct stat info {};
        return ::fstat(static_cast<InPlace*>(handle)->fd, &info) == 0 ? toff_t(info.st_size) : 0;
    }
};

std::string tiffCompressionOf(int fd)
{
    // libtiff's own warnings about the file are the loader's business.
    const TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
    const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr);
    std::string name;
    InPlace file{fd};
    if (TIFF* tiff =
            TIFFClientOpen("input", "rm", &file, InPlace::read, InPlace::write, InPlace::seek,
                           InPlace::close, InPlace::size, nullptr, nullptr)) {
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        switch (compression) {
        case COMPRESSION_LZW:
            name = "lzw";
            break;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            name = "deflate";
            break;
        case COMPRESSION_ZSTD:
            name = "zstd";
            break;
        case COMPRESSION_PACKBITS:
            name = "packbits";
            break;
        case COMPRESSION_JPEG:
            name = "jpeg";
            break;
        default:
            break;
        }
        TIFFClose(tiff);
    }
    TIFFSetWarningHandler(warnings);
    TIFFSetErrorHandler(errors);
    return name;
}

} // namespace

void keepInputCoding(int fd, const formats::Format* read, Encoding& encoding)
{
    switch (read ? read->kept : formats::KeptCoding::None) {
    case formats::KeptCoding::Lossless:
        encoding.lossless = encoding.lossless || losslessWebp(fd);
        break;
    case formats::KeptCoding::Compression:
        if (encoding.tiffCompression.empty())
            encoding.tiffCompression = tiffCompressionOf(fd);
        break;
    case formats::KeptCoding::Chunks:
        encoding.pngInput = fd;
        break;
    case formats::KeptCoding::None:
        break;
    }
}

} // namespace vipsio
