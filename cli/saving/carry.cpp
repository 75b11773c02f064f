// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/carry.h"
#include "formats/formats.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

using vips::VImage;

namespace saving {

namespace {

// libvips's EXIF blobs start as JPEG's APP1 segment does.
const std::string exifMarker(formats::exifMarker);

void setBlob(VImage& image, const char* name, const std::string& bytes)
{
    auto* copy = static_cast<char*>(std::malloc(bytes.size()));
    if (!copy)
        return;
    std::copy(bytes.begin(), bytes.end(), copy);
    image.set(
        name,
        [](void* data, void*) {
            std::free(data);
            return 0;
        },
        copy, bytes.size());
}

std::string blobOf(const VImage& image, const char* name)
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_blob(image.get_image(), name, &data, &size) != 0)
        return {};
    return {static_cast<const char*>(data), size};
}

// What Exiv2 and libvips read of the input open at `fd`.
metadata::Carried carriedFrom(int fd, const loading::Loaded& loaded, Warnings& warnings)
{
    Error unreadable;
    metadata::Carried carried;
    if (fd >= 0 && loaded.read && loaded.read->exiv2Reads)
        carried = metadata::Carried::read(fd, unreadable);
    if (unreadable)
        warnings.add("rendered, but " + unreadable.reason() +
                     "; it carries what libvips reads of it");
    // What Exiv2 found no way to read, libvips may have: HEIF's XMP item,
    // an EXIF block in a place Exiv2 does not look. The XMP packet goes as
    // written, which libvips holds (Exiv2 gives its own encoding of it);
    // HEIF's too, from its item.
    carried.keepXmpPacket(xmpPacketOf(loaded.image));
    if (loaded.read && loaded.read->decodesUpright)
        carried.keepXmpPacket(heifXmpOf(loaded.image));
    carried.keepCameraBlock(exifBlockOf(loaded.image), true);
    return carried;
}

void removeFields(VImage& image, bool exif, bool xmp, bool iptc)
{
    gchar** fields = vips_image_get_fields(image.get_image());
    for (gchar** field = fields; *field; ++field) {
        const std::string_view name(*field);
        if ((exif && (name.starts_with("exif-") || name == "jpeg-thumbnail-data")) ||
            (xmp && name == VIPS_META_XMP_NAME) ||
            (iptc && (name == VIPS_META_IPTC_NAME || name == VIPS_META_PHOTOSHOP_NAME)))
            image.remove(*field);
    }
    g_strfreev(fields);
}

} // namespace

Travelling travellingFor(int fd, const loading::Loaded& loaded, const formats::Format& format,
                         int pages, bool strip, bool sheet, bool upright, Warnings& warnings)
{
    Travelling travelling;
    metadata::Carried& carried = travelling.carried;
    if (sheet) {
        // The sheet is no copy of the photograph: it carries nothing.
    } else if (strip) {
        carried = metadata::Carried::orientationOnly(
            upright ? 1 : vips_image_get_orientation(loaded.image.get_image()));
    } else {
        carried = carriedFrom(fd, loaded, warnings);
        // A decoder that applies the file's own rotation and mirroring gives
        // upright pixels, as does turning them: EXIF Orientation says so.
        if (upright)
            carried.setOrientation(1);
    }
    const metadata::Holdings holdings = carried.holdings();
    travelling.libvipsExif = holdings.exifOnlyInLibvips;
    travelling.route = metadata::routeFor(holdings, format, pages);
    carried.follow(travelling.route);
    for (const std::string& reason : travelling.route.dropped)
        warnings.add(reason);
    return travelling;
}

VImage handedOver(const VImage& image, const Travelling& travelling)
{
    using metadata::Way;
    using metadata::Writer;
    const metadata::Route& route = travelling.route;
    const metadata::Carried& carried = travelling.carried;
    VImage handed = image.copy();
    // Where Exiv2 writes, libvips's copies stand in until it does: only
    // what the route leaves out goes now.
    const bool exiv2Writes =
        route.writer == Writer::JpegHeader || route.writer == Writer::Exiv2Rewrite;
    const bool exifStays = route.exif != Way::Dropped && route.exif != Way::Absent;
    const bool libvipsExifGoes = travelling.libvipsExif && exifStays;
    if (exiv2Writes) {
        removeFields(handed, !exifStays, route.xmp == Way::Dropped, route.iptc == Way::Dropped);
        return handed;
    }
    removeFields(handed, !libvipsExifGoes, true, true);
    if (carried.hasExif())
        if (const std::string exif = carried.exifBlock(); !exif.empty())
            setBlob(handed, VIPS_META_EXIF_NAME, exifMarker + exif);
    if (carried.hasXmp())
        setBlob(handed, VIPS_META_XMP_NAME, carried.xmpPacket());
    return handed;
}

std::vector<metadata::TiffTag> tiffTagsOf(const Travelling& travelling)
{
    std::vector<metadata::TiffTag> tags = travelling.carried.tiffTags();
    // IPTC's records as bytes: libvips writes a quarter of them, counted
    // as the longs an older libtiff took.
    if (travelling.route.iptc == metadata::Way::AsWritten)
        if (std::string records = travelling.carried.iptcRecords(); !records.empty())
            tags.push_back({0, 0x83bb, 7, std::move(records), {}});
    return tags;
}

std::string heifXmpOf(const VImage& image)
{
    std::string packet;
    gchar** fields = vips_image_get_fields(image.get_image());
    for (gchar** field = fields; *field && packet.empty(); ++field) {
        const void* data = nullptr;
        std::size_t size = 0;
        if (!std::string_view(*field).starts_with("heif-mime-") ||
            vips_image_get_blob(image.get_image(), *field, &data, &size) != 0)
            continue;
        const std::string_view item(static_cast<const char*>(data), size);
        if (item.find("<x:xmpmeta") != std::string_view::npos)
            packet = item;
    }
    g_strfreev(fields);
    return packet;
}

std::string exifBlockOf(const VImage& image) { return blobOf(image, VIPS_META_EXIF_NAME); }

std::string xmpPacketOf(const VImage& image) { return blobOf(image, VIPS_META_XMP_NAME); }

} // namespace saving
