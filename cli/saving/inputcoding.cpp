// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/inputcoding.h"
#include "formats/formats.h"

#include "fileio/descriptors.h"
#include "loading/jpegquality.h"
#include "loading/tiffinplace.h"

#include <tiffio.h>
#include <webp/decode.h>

namespace saving {

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

std::string tiffCompressionOf(int fd)
{
    // libtiff's own warnings about the file are the loader's business.
    const TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
    const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr);
    std::string name;
    loading::TiffInPlace file{fd};
    if (TIFF* tiff = file.open("input")) {
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        if (const formats::TiffCompression* known = formats::tiffCompressionStored(compression);
            known && known->name != "none")
            name = known->name;
        TIFFClose(tiff);
    }
    TIFFSetWarningHandler(warnings);
    TIFFSetErrorHandler(errors);
    return name;
}

} // namespace

void keepInputCoding(int fd, const formats::Format* read, Encoding& encoding)
{
    switch (read ? read->keptCoding : formats::KeptCoding::None) {
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
    case formats::KeptCoding::Quality:
        if (encoding.keepQuality)
            if (const auto coding = loading::jpegCodingOf(fd)) {
                encoding.jpegQuality = coding->quality;
                encoding.jpegChromaHalved = coding->chromaHalved;
            }
        break;
    case formats::KeptCoding::None:
        break;
    }
}

} // namespace saving
