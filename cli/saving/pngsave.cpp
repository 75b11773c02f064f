// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/pngsave.h"
#include "formats/formats.h"

#include "fileio/outputfile.h"
#include "png/inputchunks.h"
#include "png/pngwriter.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

using png::PngChunk;
using png::PngColour;
using png::PngWriter;
using vips::VImage;

namespace saving {

namespace {

std::vector<unsigned char> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::optional<std::string_view> blobField(const VImage& image, const char* name)
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_blob(image.get_image(), name, &data, &size) != 0)
        return std::nullopt;
    return std::string_view(static_cast<const char*>(data), size);
}

void addPhysicalSize(const VImage& image, std::vector<PngChunk>& chunks)
{
    // libvips keeps pixels per millimetre; PNG wants them per metre.
    const auto perMetre = [](double perMillimetre) {
        return std::uint32_t(std::lround(std::max(0.0, perMillimetre) * 1000.0));
    };
    std::vector<unsigned char> data(9, 0);
    for (const auto& [at, value] :
         {std::pair{0, perMetre(image.xres())}, std::pair{4, perMetre(image.yres())}})
        for (int i = 0; i < 4; ++i)
            data[std::size_t(at) + std::size_t(i)] =
                static_cast<unsigned char>(value >> (24 - 8 * i));
    data[8] = 1; // the unit is the metre
    chunks.push_back({"pHYs", std::move(data)});
}

void addProfile(std::string_view profile, std::vector<PngChunk>& chunks)
{
    uLongf size = compressBound(uLong(profile.size()));
    std::vector<unsigned char> data = bytesOf(std::string_view("icc\0\0", 5));
    const std::size_t header = data.size();
    data.resize(header + size);
    if (compress2(data.data() + header, &size, reinterpret_cast<const Bytef*>(profile.data()),
                  uLong(profile.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return;
    data.resize(header + size);
    chunks.push_back({"iCCP", std::move(data)});
}

// Text comments as libvips names them: png-comment-N-KEYWORD.
void addComments(const VImage& image, std::vector<PngChunk>& chunks)
{
    gchar** fields = vips_image_get_fields(image.get_image());
    for (gchar** field = fields; *field; ++field) {
        const std::string_view name(*field);
        const char* value = nullptr;
        if (!name.starts_with("png-comment-") ||
            vips_image_get_string(image.get_image(), *field, &value) != 0)
            continue;
        const std::string_view numbered = name.substr(std::strlen("png-comment-"));
        const std::string_view keyword = numbered.substr(numbered.find('-') + 1);
        // iTXt holds UTF-8 text, which tEXt (Latin-1) does not.
        std::vector<unsigned char> data = bytesOf(keyword);
        for (const unsigned char flag : {0, 0, 0, 0, 0})
            data.push_back(flag); // keyword end, no compression, no language, no translation
        data.insert(data.end(), value, value + std::strlen(value));
        chunks.push_back({"iTXt", std::move(data)});
    }
    g_strfreev(fields);
}

// The chunks before the image: those a PNG input had, copied as they were
// (its text, unless --strip, and its colour and size chunks), else what
// libvips holds; EXIF and the ICC profile always from libvips's fields.
std::vector<PngChunk> metadataChunks(const VImage& image, const Encoding& encoding,
                                     PngColour colour, int bitDepth, std::vector<PngChunk>& after,
                                     Warnings& warnings)
{
    const png::InputChunks input =
        encoding.pngInput < 0 ? png::InputChunks() : png::inputChunks(encoding.pngInput);
    std::vector<PngChunk> before;
    if (input.read) {
        for (const PngChunk& chunk : input.colour)
            // sBIT counts bits per channel of the input's own layout.
            if (chunk.type != "sBIT" ||
                (input.colourType == int(colour) && input.bitDepth == bitDepth))
                before.push_back(chunk);
    } else {
        addPhysicalSize(image, before);
    }
    if (const auto profile = blobField(image, VIPS_META_ICC_NAME))
        addProfile(*profile, before);
    if (auto exif = blobField(image, VIPS_META_EXIF_NAME)) {
        // eXIf holds the TIFF structure alone, without JPEG's "Exif" marker.
        if (exif->starts_with(formats::exifMarker))
            exif->remove_prefix(6);
        before.push_back({"eXIf", bytesOf(*exif)});
    }
    if (input.read) {
        if (!encoding.strip) {
            before.insert(before.end(), input.text.begin(), input.text.end());
            after.insert(after.end(), input.textAfter.begin(), input.textAfter.end());
            if (input.textLeftOut)
                warnings.add("its PNG text past " + std::to_string(png::maxKeptBytes >> 20) +
                             " MiB (or past " + std::to_string(png::maxWalkedChunks) +
                             " chunks) was left out");
        }
        return before;
    }
    if (const auto xmp = blobField(image, VIPS_META_XMP_NAME)) {
        std::vector<unsigned char> data =
            bytesOf(std::string_view("XML:com.adobe.xmp\0\0\0\0\0", 22));
        const std::vector<unsigned char> text = bytesOf(*xmp);
        data.insert(data.end(), text.begin(), text.end());
        before.push_back({"iTXt", std::move(data)});
    }
    addComments(image, after);
    return before;
}

struct Streaming {
    PngWriter* writer;
    Error error;

    static int rows(VipsRegion* region, VipsRect* area, void* state)
    {
        auto* streaming = static_cast<Streaming*>(state);
        if (!streaming->error)
            streaming->error =
                streaming->writer->putRows(VIPS_REGION_ADDR(region, 0, area->top),
                                           VIPS_REGION_LSKIP(region), std::uint32_t(area->height));
        return streaming->error ? -1 : 0;
    }
};

} // namespace

bool ownPngEncoderTakes(const VImage& image)
{
    return (image.format() == VIPS_FORMAT_UCHAR || image.format() == VIPS_FORMAT_USHORT) &&
           image.bands() >= 1 && image.bands() <= 4 && image.coding() == VIPS_CODING_NONE;
}

Error savePng(const VImage& image, const Encoding& encoding, fileio::OutputFile& output,
              Warnings& warnings)
{
    static constexpr PngColour byBands[] = {PngColour::Grey, PngColour::GreyAlpha, PngColour::Rgb,
                                            PngColour::Rgba};
    PngWriter::Options options;
    options.level = encoding.compression.value_or(6);
    options.threads = std::max(1, vips_concurrency_get());
    // By default as libvips's own PNG saver: unfiltered rows, deflated at
    // once; filters halve a photograph's size for three times the work.
    options.adaptiveFilters = encoding.pngFilters;
    const int bitDepth = image.format() == VIPS_FORMAT_USHORT ? 16 : 8;
    const PngColour colour = byBands[image.bands() - 1];
    options.beforeImage =
        metadataChunks(image, encoding, colour, bitDepth, options.afterImage, warnings);
    PngWriter writer(
        {std::uint32_t(image.width()), std::uint32_t(image.height()), bitDepth, colour},
        std::move(options),
        [&output](const char* data, std::size_t size) { return output.write(data, size); });
    Streaming streaming{&writer, {}};
    if (vips_sink_disc(image.get_image(), Streaming::rows, &streaming) != 0 && !streaming.error)
        throw vips::VError();
    if (streaming.error)
        return streaming.error;
    return writer.finish();
}

} // namespace saving
