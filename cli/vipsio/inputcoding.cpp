#include "vipsio/inputcoding.h"

#include "fileio/descriptors.h"

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/decode.h>

namespace vipsio {

namespace {

bool losslessWebp(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The features are told by the first chunks of the file.
    const std::string start = readStart(fd, std::size_t(64) * 1024);
    ::close(fd);
    WebPBitstreamFeatures features;
    return WebPGetFeatures(reinterpret_cast<const std::uint8_t*>(start.data()), start.size(),
                           &features) == VP8_STATUS_OK &&
           features.format == 2;
}

std::string tiffCompressionOf(const std::string& path)
{
    // libtiff's own warnings about the file are the loader's business.
    const TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
    const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr);
    std::string name;
    if (TIFF* tiff = TIFFOpen(path.c_str(), "rm")) {
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

void keepInputCoding(const std::string& path, const std::string& loader, Encoding& encoding)
{
    if (loader.starts_with("webpload") && !encoding.lossless)
        encoding.lossless = losslessWebp(path);
    if (loader.starts_with("pngload"))
        encoding.pngInput = path;
    if (loader.starts_with("tiffload") && encoding.tiffCompression.empty())
        encoding.tiffCompression = tiffCompressionOf(path);
}

} // namespace vipsio
