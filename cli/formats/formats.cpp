// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/formats.h"

#include <algorithm>
#include <cctype>

namespace formats {

namespace {

using std::string_view_literals::operator""sv;

Format row(std::string_view name, std::string_view title, std::vector<std::string_view> suffixes,
           std::string_view saver)
{
    Format format;
    format.name = name;
    format.title = title;
    format.suffixes = std::move(suffixes);
    format.saver = saver;
    return format;
}

// Each row sets what differs from a format that streams, holds one image
// and carries only what libvips itself writes.

Format jpeg()
{
    Format jpeg = row("jpeg", "JPEG", {"jpg", "jpeg", "jpe", "jfif"}, "jpegsave_target");
    jpeg.lossy = true;
    jpeg.subsamplesBelow90 = true;
    jpeg.keptCoding = KeptCoding::Quality;
    // 255 APP2 segments of 65,519 profile bytes each.
    jpeg.iccLimit = 255 * std::size_t(65519);
    jpeg.metadata = MetadataRoute::JpegHeader;
    jpeg.holdsIptc = true;
    jpeg.loader = "jpegload";
    jpeg.magic = {{0, "\xff\xd8\xff"}};
    jpeg.holds = DecoderHolds::CoefficientsIfProgressive;
    jpeg.warnsOfDamage = true;
    jpeg.exiv2Reads = true;
    return jpeg;
}

Format png()
{
    Format png = row("png", "PNG", {"png"}, "pngsave_target");
    png.deflateLevel = true;
    png.keptCoding = KeptCoding::Chunks;
    png.samples = Samples::Deep;
    png.metadata = MetadataRoute::PngChunks;
    png.loader = "pngload";
    png.magic = {{0, "\x89PNG"}};
    png.describingFields = {"png-comment-"};
    png.holds = DecoderHolds::PixelsIfInterlaced;
    png.exiv2Reads = true;
    return png;
}

Format tiff()
{
    Format tiff = row("tiff", "TIFF", {"tif", "tiff"}, "tiffsave_target");
    tiff.keptCoding = KeptCoding::Compression;
    tiff.samples = Samples::Float;
    tiff.keepsPages = true;
    tiff.keepsPagesOfAnySize = true;
    tiff.mayHoldRaw = true;
    tiff.metadata = MetadataRoute::Exiv2Rewrite;
    tiff.exifInOneBlock = false;
    tiff.rewritesPages = false;
    tiff.iptcRecordsOnly = true;
    tiff.holdsIptc = true;
    tiff.loader = "tiffload";
    tiff.magic = {{0, "II*\0"sv}, {0, "MM\0*"sv}};
    tiff.countsPages = true;
    tiff.exiv2Reads = true;
    return tiff;
}

Format webp()
{
    Format webp = row("webp", "WebP", {"webp"}, "webpsave_target");
    webp.lossy = true;
    webp.losslessChoice = true;
    webp.keptCoding = KeptCoding::Lossless;
    webp.keepsPages = true;
    webp.metadata = MetadataRoute::Exiv2Rewrite;
    webp.exifNeedsRewrite = true;
    webp.loader = "webpload";
    webp.magic = {{8, "WEBP"}};
    webp.holds = DecoderHolds::Frames;
    webp.countsPages = true;
    webp.framesAlways = true;
    webp.exiv2Reads = true;
    return webp;
}

Format gif()
{
    Format gif = row("gif", "GIF", {"gif"}, "gifsave_target");
    gif.keepsPages = true;
    gif.loader = "gifload";
    gif.magic = {{0, "GIF8"}};
    gif.describingFields = {"gif-comment"};
    gif.holds = DecoderHolds::Frames;
    gif.countsPages = true;
    gif.framesAlways = true;
    return gif;
}

Format heif()
{
    // HEIF and AVIF share a loader, which reads both as "heif".
    Format heif = row("heif", "HEIF", {"heic", "heif"}, "heifsave_target");
    heif.lossy = true;
    // Near the size a phone's own HEIF of the picture takes.
    heif.defaultQuality = 65;
    heif.losslessChoice = true;
    heif.turnsUpright = true;
    heif.metadata = MetadataRoute::LibvipsBlocks;
    heif.loader = "heifload";
    heif.magic = {{4, "ftyp"}};
    heif.describingFields = {"heif-"};
    heif.module = "heif";
    heif.holds = DecoderHolds::Image;
    heif.countsPages = true;
    heif.decodesUpright = true;
    heif.exiv2Reads = true;
    return heif;
}

Format avif()
{
    Format avif = heif();
    avif.name = "avif";
    avif.title = "AVIF";
    avif.suffixes = {"avif"};
    avif.variantOption = "compression";
    avif.variant = "av1";
    avif.defaultQuality = 80;
    avif.magic = {{4, "ftypavif"}, {4, "ftypavis"}};
    return avif;
}

Format jxl()
{
    Format jxl = row("jxl", "JPEG XL", {"jxl"}, "jxlsave_target");
    jxl.lossy = true;
    jxl.losslessChoice = true;
    jxl.loader = "jxlload";
    jxl.magic = {{0, "\xff\x0a"}, {4, "JXL "}};
    jxl.module = "jxl";
    return jxl;
}

Format jp2()
{
    Format jp2 = row("jp2", "JPEG 2000", {"jp2", "j2k", "jpx"}, "jp2ksave_target");
    jp2.lossy = true;
    jp2.loader = "jp2kload";
    jp2.magic = {{0, "\0\0\0\x0cjP  "sv}, {0, "\xff\x4f\xff\x51"}};
    jp2.holds = DecoderHolds::ImageWords;
    return jp2;
}

Format ppm()
{
    // The Netpbm family: one loader and one saver, told apart by first bytes.
    Format ppm = row("ppm", "PPM", {"ppm", "pnm"}, "ppmsave_target");
    ppm.saverAlwaysBuilt = true;
    ppm.variantOption = "format";
    ppm.variant = "ppm";
    ppm.samples = Samples::Deep;
    ppm.loader = "ppmload";
    ppm.loaderTrustedHere = true;
    ppm.magic = {{0, "P6"}, {0, "P3"}, {0, "P4"}, {0, "P1"}};
    ppm.streamedByProgram = true;
    return ppm;
}

Format pgm()
{
    Format pgm = ppm();
    pgm.name = "pgm";
    pgm.title = "PGM";
    pgm.suffixes = {"pgm"};
    pgm.variant = "pgm";
    pgm.magic = {{0, "P5"}, {0, "P2"}};
    return pgm;
}

Format pfm()
{
    Format pfm = ppm();
    pfm.name = "pfm";
    pfm.title = "PFM";
    pfm.suffixes = {"pfm"};
    pfm.variant = "pfm";
    pfm.samples = Samples::FloatOnly;
    pfm.magic = {{0, "PF"}, {0, "Pf"}};
    pfm.streamedByProgram = false;
    return pfm;
}

Format raw()
{
    // Told by suffix, or by first bytes where they are not a TIFF's (those
    // TIFF-structured, as DNG, NEF and ARW are, the metadata tells).
    Format raw = row("raw", "raw", {"dng", "nef", "nrw", "cr2", "cr3", "crw", "arw", "srf", "sr2",
                                    "orf", "rw2", "rwl", "raf", "pef", "srw", "x3f", "3fr", "fff",
                                    "iiq", "erf", "kdc", "dcr", "mrw", "mos", "mef", "gpr"},
                     {});
    raw.magic = {
        {0, "IIRO"},     {0, "IIRS"}, {0, "MMOR"},    {0, "IIU\0"sv},  {0, "FUJIFILMCCD"},
        {4, "ftypcrx "}, {0, "FOVb"}, {0, "\0MRM"sv}, {6, "HEAPCCDR"}, {0, "II*\0\x10\0\0\0CR"sv}};
    raw.raw = true;
    return raw;
}

// A film: read and written through FFmpeg, one job like any file.
Format film(std::string_view name, std::string_view title, std::vector<std::string_view> suffixes,
            std::string_view muxer, std::vector<Magic> magic)
{
    Format film = row(name, title, std::move(suffixes), {});
    film.lossy = true;
    film.film = true;
    film.muxer = muxer;
    film.magic = std::move(magic);
    film.fastStart = muxer == "mp4" || muxer == "mov";
    film.holdsAttachments = muxer == "matroska";
    return film;
}

// ISO media files name their brand after "ftyp"; HEIF's brands are
// pictures, these are films.
std::vector<Format> films()
{
    return {
        film("mp4", "MP4", {"mp4", "m4v"}, "mp4",
             {{4, "ftypisom"},
              {4, "ftypiso2"},
              {4, "ftypiso4"},
              {4, "ftypiso5"},
              {4, "ftypiso6"},
              {4, "ftypmp41"},
              {4, "ftypmp42"},
              {4, "ftypavc1"},
              {4, "ftypM4V "},
              {4, "ftypM4VH"},
              {4, "ftypM4VP"},
              {4, "ftypdash"},
              {4, "ftypXAVC"},
              {4, "ftypMSNV"},
              {4, "ftyp3gp"}}),
        film("mov", "QuickTime", {"mov", "qt"}, "mov",
             {{4, "ftypqt  "}, {4, "moov"}, {4, "mdat"}, {4, "wide"}, {4, "free"}}),
        film("mkv", "Matroska", {"mkv"}, "matroska", {{0, "\x1a\x45\xdf\xa3"}}),
        film("webm", "WebM", {"webm"}, "webm", {}),
    };
}

// Every row, in the order --list-formats prints them.
std::vector<Format> rows()
{
    std::vector<Format> table{jpeg(), png(), tiff(), webp(), gif(), heif(), avif(),
                              jxl(),  jp2(), ppm(),  pgm(),  pfm(), raw()};
    for (Format& film : films())
        table.push_back(std::move(film));
    return table;
}

std::string lower(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

bool starts(std::string_view start, const Magic& magic)
{
    return start.size() >= magic.at + magic.bytes.size() &&
           start.substr(magic.at, magic.bytes.size()) == magic.bytes;
}

} // namespace

const std::vector<Format>& all()
{
    static const std::vector<Format> table = rows();
    return table;
}

const Format* named(std::string_view nameOrSuffix)
{
    const std::string key = lower(nameOrSuffix);
    for (const Format& format : all())
        if (key == format.name ||
            std::find(format.suffixes.begin(), format.suffixes.end(), key) != format.suffixes.end())
            return &format;
    return nullptr;
}

const Format* byMagic(std::string_view start)
{
    // The longest that matches: AVIF's brand over HEIF's box.
    const Format* found = nullptr;
    std::size_t longest = 0;
    for (const Format& format : all())
        for (const Magic& magic : format.magic)
            if (starts(start, magic) && magic.bytes.size() > longest) {
                found = &format;
                longest = magic.bytes.size();
            }
    return found;
}

const Format* readBy(std::string_view loader, std::string_view start)
{
    const std::string_view base = loader.substr(0, loader.find('_'));
    const Format* found = nullptr;
    for (const Format& format : all())
        if (format.loader == base && !found)
            found = &format;
    // One loader for several rows: the first bytes say which.
    if (const Format* magic = byMagic(start); found && magic && magic->loader == base)
        return magic;
    return found;
}

bool isRaw(std::string_view path, std::string_view start)
{
    if (const Format* format = byMagic(start); format && format->raw)
        return true;
    const Format* format = path.empty() ? nullptr : named(suffixOf(path));
    return format && format->raw;
}

std::string keepingPages(bool asOptions)
{
    std::vector<std::string> names;
    for (const Format& format : all())
        if (format.keepsPages)
            names.push_back(asOptions ? "-f " + std::string(format.name)
                                      : std::string(format.title));
    std::string text;
    for (std::size_t n = 0; n < names.size(); ++n)
        text += (n == 0 ? "" : n + 1 == names.size() ? " or " : ", ") + names[n];
    return text;
}

std::string filmContainers()
{
    std::string names;
    for (const Format& format : all())
        if (format.film)
            names += (names.empty() ? "" : ",") + std::string(format.muxer);
    return names;
}

bool readable(const Format* format)
{
    return format && (!format->loader.empty() || format->film || format->raw);
}

std::string suffixOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash) ||
        dot == (slash == std::string_view::npos ? 0 : slash + 1))
        return {};
    return lower(path.substr(dot + 1));
}

const std::vector<TiffCompression>& tiffCompressions()
{
    // The values a TIFF's Compression tag holds for each.
    static const std::vector<TiffCompression> all{{"none", {1}},           {"lzw", {5}},
                                                  {"deflate", {8, 32946}}, {"zstd", {50000}},
                                                  {"packbits", {32773}},   {"jpeg", {7}}};
    return all;
}

const TiffCompression* tiffCompressionNamed(std::string_view name)
{
    for (const TiffCompression& compression : tiffCompressions())
        if (compression.name == name)
            return &compression;
    return nullptr;
}

const TiffCompression* tiffCompressionStored(int tag)
{
    for (const TiffCompression& compression : tiffCompressions())
        if (std::find(compression.stored.begin(), compression.stored.end(), tag) !=
            compression.stored.end())
            return &compression;
    return nullptr;
}

std::string tiffCompressionNames()
{
    std::string names;
    const auto& all = tiffCompressions();
    for (std::size_t n = 0; n < all.size(); ++n)
        names.append(n == 0 ? "" : n + 1 == all.size() ? " or " : ", ").append(all[n].name);
    return names;
}

} // namespace formats
