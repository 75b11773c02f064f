// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What each image format can do, as one table that every room asks: the
// command line for names and suffixes, the plan for new file names, the
// libvips room for loaders, savers and their settings, the metadata for
// where it goes. A new format is one row. This room knows no library: which
// rows this build of libvips can read and write is the libvips room's
// question (loading/availability.h).
namespace formats {

// How the input's metadata reaches an output of the format.
enum class MetadataRoute {
    None,          // what the saver writes of libvips's own fields, nothing more
    JpegHeader,    // Exiv2 rewrites the header as it streams past
    Exiv2Rewrite,  // Exiv2 rewrites the finished file (through memory)
    PngChunks,     // the program's own PNG writer copies chunks and adds eXIf
    LibvipsBlocks, // libvips writes Exiv2's EXIF block and the XMP packet
};

// What samples an output of the format holds.
enum class Samples {
    Bytes,     // 8 bits; float samples are scaled to 0..255
    Deep,      // 8 or 16 bits; float samples become 16 bits
    Float,     // what the image holds, float included
    FloatOnly, // float 0..1; integer samples are scaled down to it
};

// What a loader holds at once while it decodes, beyond a few rows.
enum class DecoderHolds {
    Rows,                      // it streams
    CoefficientsIfProgressive, // a progressive JPEG keeps every coefficient
    PixelsIfInterlaced,        // an interlaced PNG is decoded whole
    Frames,                    // each frame whole, and the one before it
    Image,                     // the whole image, twice (HEIF)
    ImageWords,                // the whole image as 32-bit words (JPEG 2000)
};

// What of an input's own coding an output goes on with, where nothing else
// is asked: a lossless WebP stays lossless, a TIFF keeps its compression, a
// PNG's text, colour and size chunks go to a PNG output.
// A JPEG's quality and chroma go to a JPEG output under -Q keep.
enum class KeptCoding { None, Lossless, Compression, Chunks, Quality };

// First bytes that name a format: `bytes` at offset `at`.
struct Magic {
    std::size_t at;
    std::string_view bytes;
};

struct Format {
    std::string_view name;                  // as -f and --list-formats name it
    std::vector<std::string_view> suffixes; // without the dot; the first names new files
    std::string_view title;                 // as messages name it: "JPEG", "WebP"

    // Writing.
    std::string_view saver;        // the libvips saver that writes it to a target
    bool saverAlwaysBuilt = false; // libvips is never built without that saver
    // What the saver is told to write, where it writes several: its option
    // and the option's value, by libvips's nickname ("format", "pgm").
    std::string_view variantOption;
    std::string_view variant;
    bool lossy = false;             // takes -Q
    int defaultQuality = 90;        // its -Q when none is given
    bool losslessChoice = false;    // --lossless applies
    bool subsamplesBelow90 = false; // colour at half resolution below -Q 90
    bool deflateLevel = false;      // takes --compression
    KeptCoding keptCoding = KeptCoding::None;
    Samples samples = Samples::Bytes;
    bool keepsPages = false;          // holds every page or frame of a file
    bool keepsPagesOfAnySize = false; // its pages need not share a size
    bool turnsUpright = false;        // its viewers ignore EXIF Orientation
    MetadataRoute metadata = MetadataRoute::None;
    bool exifInOneBlock = true;    // holds EXIF as one block (a TIFF's tags are the image's)
    bool rewritesPages = true;     // the metadata route also serves files of several pages
    bool exifNeedsRewrite = false; // libvips's saver writes EXIF as readers refuse it
    bool iptcRecordsOnly = false;  // IPTC as bare records, where libvips writes Photoshop's segment
    bool holdsIptc = false;        // has a place for IPTC (its metadata route writes it)
    std::size_t iccLimit = 0;      // the most ICC profile bytes it holds; 0: any

    // Reading.
    std::string_view loader; // the libvips loader's nickname, without _source
    // libvips calls the loader untrusted, but it reads only what the
    // program's own checks let through (a Netpbm header): not blocked.
    bool loaderTrustedHere = false;
    std::vector<Magic> magic; // a file starting so is this format
    // libvips's fields in which its loader keeps what it read of the file
    // beside the pixels and the common metadata (comments, a HEIF's items),
    // which --strip drops: a field's name, or a prefix ending in '-'.
    std::vector<std::string_view> describingFields;
    std::string_view module; // the libvips module that reads and writes it, if any
    DecoderHolds holds = DecoderHolds::Rows;
    bool countsPages = false;       // the loader's n-pages counts pages or frames
    bool framesAlways = false;      // an animation: every frame is loaded
    bool decodesUpright = false;    // the loader applies the file's own transforms
    bool warnsOfDamage = false;     // its decoder's warnings are judged once it has run
    bool exiv2Reads = false;        // Exiv2 reads its EXIF, XMP and IPTC
    bool streamedByProgram = false; // the program's own binary Netpbm stream keeps it
    // A camera's raw sensor data, which no row here renders: its files are
    // found by suffix and first bytes only to be refused.
    bool raw = false;
    // Raw files may take its structure (DNG's is a TIFF's): its readers look.
    bool mayHoldRaw = false;

    // Films, which FFmpeg's libraries read and write, not libvips.
    bool film = false;
    std::string_view muxer;        // FFmpeg's name for the container
    bool fastStart = false;        // written with its index first, for browsers (MP4, QuickTime)
    bool holdsAttachments = false; // fonts and other files beside the streams (Matroska)
};

// How JPEG's APP1 segment, and the readers that follow it elsewhere, mark
// the EXIF block that comes after.
inline constexpr std::string_view exifMarker{"Exif\0\0", 6};

// A compression a TIFF may be written with: as --tiff-compression names it
// (and libvips's saver, by the same nickname), and the values a file's
// Compression tag holds for it.
struct TiffCompression {
    std::string_view name;
    std::vector<int> stored;
};
const std::vector<TiffCompression>& tiffCompressions();
// The compression a name, or a file's Compression tag, stands for; nothing
// when none of these does.
const TiffCompression* tiffCompressionNamed(std::string_view name);
const TiffCompression* tiffCompressionStored(int tag);
// Their names, as messages list them: "none, lzw, deflate, zstd, packbits or jpeg".
std::string tiffCompressionNames();

// Every row, in the order --list-formats prints them.
const std::vector<Format>& all();

// The row a name or a suffix (without the dot, any case) stands for.
const Format* named(std::string_view nameOrSuffix);

// The row a loader reads, for an image whose file starts with `start` (the
// Netpbm loader reads three formats); nothing when no row has it.
const Format* readBy(std::string_view loader, std::string_view start);

// The row whose first bytes `start` begins with.
const Format* byMagic(std::string_view start);

// Whether a file named `path` whose first bytes are `start` (either may be
// empty) is a camera's raw file.
bool isRaw(std::string_view path, std::string_view start);

// The formats whose files keep every page, as messages name them: "TIFF,
// WebP or GIF", and as -f does: "-f tiff, -f webp or -f gif".
std::string keepingPages(bool asOptions);

// FFmpeg's names of the containers films are read and written in, joined
// by commas (as its lists of demuxers are).
std::string filmContainers();

// Whether the program reads the format: libvips has a loader for it, or it is a film.
bool readable(const Format* format);

// The suffix of a file name, lower case and without the dot; empty when none.
std::string suffixOf(std::string_view path);

} // namespace formats
