// SPDX-License-Identifier: GPL-3.0-or-later
#include "command/optionset.h"

namespace command {

namespace {

const char* const description =
    "Renders images through the inverse logistic colour map: every colour channel v,\n"
    "scaled to [0, 1], becomes one of the two solutions y of a*y*(1-y) = v, the dark\n"
    "lower one or the bright upper one. With no INPUT it renders the embedded\n"
    "photograph. INPUT - reads standard input; -o - writes standard output.\n"
    "\n"
    "Reads JPEG, PNG, TIFF, WebP, GIF, HEIF/AVIF and PPM/PGM/PFM, and with\n"
    "--allow-untrusted what else this build of libvips reads (JPEG XL, JPEG 2000, BMP\n"
    "and more through ImageMagick); writes the formats --list-formats names, chosen\n"
    "by -f or the output's suffix (a suffix naming no such format is a usage error).\n"
    "8- and 16-bit samples keep their depth, float samples (TIFF, PFM) are mapped in\n"
    "floating point with v clamped to [0, 1]. Alpha passes through; greyscale stays\n"
    "greyscale; CMYK becomes sRGB; palette images (GIF, some PNG) become RGB or RGBA.\n"
    "Every frame of an animated GIF or WebP and every page of a TIFF is mapped, with\n"
    "one branch for the file; a format that holds one image is refused for them.\n"
    "Metadata takes one route per file; what it leaves out is said on the file's\n"
    "warning line (\"maker note (Apple) not kept in TIFF\", \"IPTC: PNG holds none\").\n"
    "The camera's EXIF block (GPS, Orientation and maker notes included) goes byte\n"
    "for byte into JPEG, WebP and PNG (as eXIf), changed only in place: Orientation,\n"
    "the thumbnail unlinked, every picture in it (a maker note's preview) zeroed.\n"
    "Into TIFF Exiv2 writes its values, a TIFF of several pages gets them through\n"
    "libtiff; a maker note that cannot go as it was (into TIFF, HEIF/AVIF) is left\n"
    "out, its maker named. XMP goes as written (JPEG's extended XMP with it), IPTC\n"
    "into JPEG and TIFF, with the ICC profile and resolution; an input without EXIF\n"
    "gets none (HEIF/AVIF but a small one of libvips's); a PNG's text (tEXt, zTXt,\n"
    "iTXt), gAMA, cHRM, sRGB, sBIT and pHYs go to a PNG output as they were.\n"
    "HEIF/AVIF decode upright, and a picture written as HEIF/AVIF, whose viewers\n"
    "ignore Orientation, is turned upright; their Orientation becomes 1. No other\n"
    "output is rotated, unless --autorotate. A contact sheet carries no metadata. Raw\n"
    "files (DNG, NEF, CR2, ARW, ORF, ...) are refused: develop them first.\n"
    "Metadata that cannot be written back whole (damaged in the input) leaves what\n"
    "libvips writes of it, with a warning; a failed write fails the file. A PNG's\n"
    "text past 16 MiB, and an ICC profile larger than a JPEG holds, are left out\n"
    "with a warning.\n"
    "Binary PPM and PGM stream through in chunks; a stream of several images (as\n"
    "video tools pipe them) gives one output stream, with one branch for the whole\n"
    "stream.\n"
    "\n"
    "Films (MP4 and M4V, MOV, MKV, WebM) are read and written through FFmpeg's\n"
    "libraries: every video stream is converted to RGB with the film's own matrix\n"
    "and range (untagged: BT.709 from 1280 pixels wide or more than 576 lines, else\n"
    "BT.601), mapped (16 bits where the film has more than 8), converted back and\n"
    "encoded with the film's codec where this build encodes it and the container\n"
    "holds it, else H.264 in yuv420p (VP9 in WebM), tagged with the same colour\n"
    "description. Sound, subtitles, data and attachments are copied untouched, with\n"
    "the chapters, the metadata (creation time, make, model, GPS), the rotation and\n"
    "other side data; every picture keeps its timestamp (a variable rate stays\n"
    "variable). A stream the output's container cannot hold as it is refuses the\n"
    "film. MP4 and MOV are written for fast start. A film gets one branch, or with\n"
    "--passes a new one every pass of film time.\n"
    "\n"
    "New outputs appear whole or not at all, even when the program is killed or\n"
    "the disk fills; an output stream gets one whole image (Netpbm streams go\n"
    "through as they come); an existing file is replaced only with -y. Two inputs\n"
    "that would write one output stop the run before anything is written. Each\n"
    "file is opened once and rendered in a process of its own: a file that crashes\n"
    "a decoder, needs more than --max-memory, takes longer than --time-limit or\n"
    "breaks the program's protocol fails alone. SIGINT, SIGTERM and SIGHUP leave no\n"
    "temporary file; status 128 + signal.\n"
    "\n"
    "Exit status: 0 when every input was rendered (warnings included) or skipped;\n"
    "1 when any failed (each failure is one line on standard error); 2 for a usage\n"
    "error; 3 when nothing failed but outputs existed already and were left alone\n"
    "(named a few at a time, then counted: -y replaces them, --skip-existing counts\n"
    "them as done); 128 + the signal when SIGINT, SIGTERM or SIGHUP stopped the run,\n"
    "after its summary and the command that renders the rest.";

} // namespace

OptionSet::OptionSet()
{
    parser.setApplicationDescription(description);
    // Qt's own help option would also list --help-all, "including Qt
    // specific options", of which this program has none; it stays
    // accepted, unlisted, as another name for --help.
    QCommandLineOption helpAll("help-all");
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({{{"h", "help"}, "Displays this help."}, helpAll});
    parser.addOptions({version,   parameter,    branch,     seed,        output,
                       outputDir, name,         recursive,  format,      listFormats,
                       sheet,     passes,       quality,    compression, pngFilters,
                       strip,     stripIcc,     autorotate, lossless,    tiffCompression,
                       maxPixels, maxMemory,    timeLimit,  salvage,     allowUntrusted,
                       noSandbox, overwrite,    threads,    filesFrom,   nul,
                       shard,     skipExisting, quiet,      verbose,     json});
    parser.addPositionalArgument("INPUT", "Image files to render (with -r, folders too).",
                                 "[INPUT ...]");
}

} // namespace command
