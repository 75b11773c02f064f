// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/route.h"

namespace metadata {

namespace {

// The most EXIF a JPEG's APP1 segment holds, after its "Exif" marker.
constexpr std::size_t jpegExifLimit = 0xffff - 2 - 6;

Writer writerFor(const formats::Format& output, int pages)
{
    switch (output.metadata) {
    case formats::MetadataRoute::JpegHeader:
        return Writer::JpegHeader;
    case formats::MetadataRoute::Exiv2Rewrite:
        return pages == 1 || output.rewritesPages ? Writer::Exiv2Rewrite : Writer::TiffTags;
    case formats::MetadataRoute::PngChunks:
        return Writer::PngChunks;
    case formats::MetadataRoute::LibvipsBlocks:
        return Writer::Libvips;
    case formats::MetadataRoute::None:
        break;
    }
    return Writer::None;
}

// Whether the writer puts the camera's EXIF block in as it was.
bool takesTheBlock(Writer writer, const formats::Format& output, const Holdings& held)
{
    switch (writer) {
    case Writer::JpegHeader:
        return held.exifBlockSize <= jpegExifLimit;
    case Writer::PngChunks:
        return true;
    case Writer::Exiv2Rewrite:
        return output.exifInOneBlock;
    default:
        return false;
    }
}

std::string title(const formats::Format& output, int pages)
{
    return pages > 1 && output.metadata == formats::MetadataRoute::Exiv2Rewrite &&
                   !output.rewritesPages
               ? "a " + std::string(output.title) + " of several pages"
               : std::string(output.title);
}

} // namespace

Route routeFor(const Holdings& held, const formats::Format& output, int pages)
{
    Route route;
    route.writer = writerFor(output, pages);
    const std::string name(output.title);
    const auto drop = [&](Way& way, const std::string& reason) {
        way = Way::Dropped;
        route.dropped.push_back(reason);
    };
    const std::string maker = "maker note (" + held.makerNote + ")";

    if (held.exif || held.exifOnlyInLibvips) {
        if (route.writer == Writer::None) {
            drop(route.exif, "EXIF: " + name + " holds none");
        } else if (held.exifOnlyInLibvips) {
            // What libvips read of it, as libvips writes it.
            route.exif = Way::Rebuilt;
        } else if (held.exifBlock && takesTheBlock(route.writer, output, held)) {
            route.exif = Way::AsWritten;
            route.makerNote = held.makerNote.empty() ? Way::Absent : Way::AsWritten;
        } else {
            route.exif = Way::Rebuilt;
            // Turned into a TIFF's little-endian order by Exiv2, a maker
            // note's arrays read as other values, or not at all.
            const bool turned = !output.exifInOneBlock && held.exifBigEndian;
            const bool kept = route.writer != Writer::Libvips && route.writer != Writer::TiffTags &&
                              held.makerNoteRewritable && !turned;
            if (held.makerNote.empty())
                route.makerNote = Way::Absent;
            else if (kept)
                route.makerNote = Way::Rebuilt;
            else
                drop(route.makerNote, maker + " not kept in " + title(output, pages));
        }
    }

    if (held.xmp) {
        if (route.writer == Writer::None) {
            drop(route.xmp, held.extendedXmp ? "XMP and its extension: " + name + " holds none"
                                             : "XMP: " + name + " holds none");
            if (held.extendedXmp)
                route.extendedXmp = Way::Dropped;
        } else {
            route.xmp = Way::AsWritten;
            // A JPEG holds the extension as segments of its own; elsewhere a
            // packet has no size limit, and holds it merged.
            if (held.extendedXmp)
                route.extendedXmp =
                    route.writer == Writer::JpegHeader ? Way::AsWritten : Way::Rebuilt;
        }
    }

    if (held.iptc) {
        if (output.holdsIptc && route.writer != Writer::None)
            route.iptc = Way::AsWritten;
        else
            drop(route.iptc, "IPTC: " + name + " holds none");
    }
    return route;
}

} // namespace metadata
