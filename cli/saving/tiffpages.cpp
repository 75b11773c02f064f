// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/tiffpages.h"

#include "fileio/descriptors.h"
#include "loading/tiffinplace.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace saving {

namespace {

// The tags a page written by libvips may carry, copied as they are.
template <typename T> void copyField(TIFF* from, TIFF* to, ttag_t tag)
{
    T value{};
    if (TIFFGetField(from, tag, &value))
        TIFFSetField(to, tag, value);
}

void copyCounted(TIFF* from, TIFF* to, ttag_t tag)
{
    std::uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(from, tag, &count, &data))
        TIFFSetField(to, tag, count, data);
}

void copyTags(TIFF* from, TIFF* to)
{
    for (const ttag_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
        copyField<std::uint32_t>(from, to, tag);
    for (const ttag_t tag :
         {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_COMPRESSION, TIFFTAG_PHOTOMETRIC,
          TIFFTAG_PLANARCONFIG, TIFFTAG_SAMPLEFORMAT, TIFFTAG_PREDICTOR, TIFFTAG_ORIENTATION,
          TIFFTAG_RESOLUTIONUNIT, TIFFTAG_INKSET})
        copyField<std::uint16_t>(from, to, tag);
    for (const ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION})
        copyField<float>(from, to, tag);
    copyField<const char*>(from, to, TIFFTAG_IMAGEDESCRIPTION);
    for (const ttag_t tag : {TIFFTAG_ICCPROFILE, TIFFTAG_XMLPACKET, TIFFTAG_PHOTOSHOP,
                             TIFFTAG_RICHTIFFIPTC, TIFFTAG_JPEGTABLES})
        copyCounted(from, to, tag);
    std::uint16_t count = 0;
    std::uint16_t* samples = nullptr;
    if (TIFFGetField(from, TIFFTAG_EXTRASAMPLES, &count, &samples))
        TIFFSetField(to, TIFFTAG_EXTRASAMPLES, count, samples);
    std::uint16_t horizontal = 0;
    std::uint16_t vertical = 0;
    if (TIFFGetField(from, TIFFTAG_YCBCRSUBSAMPLING, &horizontal, &vertical))
        TIFFSetField(to, TIFFTAG_YCBCRSUBSAMPLING, horizontal, vertical);
}

bool copyStrips(TIFF* from, TIFF* to)
{
    std::vector<unsigned char> strip;
    for (tstrip_t n = 0; n < TIFFNumberOfStrips(from); ++n) {
        const tmsize_t size = TIFFRawStripSize(from, n);
        if (size < 0)
            return false;
        strip.resize(std::size_t(size));
        const tmsize_t got = TIFFReadRawStrip(from, n, strip.data(), size);
        if (got < 0 || TIFFWriteRawStrip(to, n, strip.data(), got) != got)
            return false;
    }
    return true;
}

} // namespace

// libtiff's writing of the output, through the output file.
struct TiffPages::Io {
    fileio::OutputFile* output;
    Error failure; // the output's first failed write

    static tmsize_t read(thandle_t handle, void* data, tmsize_t size)
    {
        return static_cast<Io*>(handle)->output->readBack(static_cast<char*>(data),
                                                          std::size_t(size));
    }
    static tmsize_t write(thandle_t handle, void* data, tmsize_t size)
    {
        auto* self = static_cast<Io*>(handle);
        if (!self->failure)
            self->failure = self->output->write(static_cast<const char*>(data), std::size_t(size));
        return self->failure ? -1 : size;
    }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        return toff_t(static_cast<Io*>(handle)->output->seek(std::int64_t(offset), whence));
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t handle)
    {
        fileio::OutputFile& output = *static_cast<Io*>(handle)->output;
        const std::int64_t at = output.seek(0, SEEK_CUR);
        const std::int64_t end = output.seek(0, SEEK_END);
        output.seek(at, SEEK_SET);
        return toff_t(end);
    }
};

TiffPages::TiffPages(fileio::OutputFile& output) : io_(std::make_unique<Io>(Io{&output, {}}))
{
    tiff_ = TIFFClientOpen("output", "w", io_.get(), Io::read, Io::write, Io::seek, Io::close,
                           Io::size, nullptr, nullptr);
}

TiffPages::~TiffPages()
{
    if (tiff_)
        TIFFCleanup(static_cast<TIFF*>(tiff_));
}

Error TiffPages::add(int page, int number, int count)
{
    TIFF* to = static_cast<TIFF*>(tiff_);
    loading::TiffInPlace io{page};
    TIFF* from = io.open("page");
    if (!to || !from) {
        if (from)
            TIFFClose(from);
        return Error("cannot join the pages into one TIFF");
    }
    copyTags(from, to);
    TIFFSetField(to, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(to, TIFFTAG_PAGENUMBER, std::uint16_t(number), std::uint16_t(count));
    const bool copied = copyStrips(from, to) && TIFFWriteDirectory(to);
    TIFFClose(from);
    if (copied)
        return {};
    return io_->failure ? io_->failure
                        : Error("cannot write page " + std::to_string(number + 1) + " of the TIFF");
}

Error TiffPages::finish()
{
    TIFF* to = static_cast<TIFF*>(tiff_);
    tiff_ = nullptr;
    if (!to)
        return Error("cannot join the pages into one TIFF");
    TIFFClose(to);
    return io_->failure;
}

} // namespace saving
