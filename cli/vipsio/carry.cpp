#include "vipsio/carry.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

using vips::VImage;

namespace vipsio {

metadata::Carried carriedFrom(int fd, const formats::Format* read, bool strip, Error& error)
{
    if (strip || fd < 0 || !read || !read->exiv2Reads)
        return {};
    return metadata::Carried::read(fd, error);
}

namespace {

// libvips's EXIF blobs start as JPEG's APP1 segment does.
const std::string exifMarker("Exif\0\0", 6);

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

} // namespace

bool libvipsWritesTheMetadata(const formats::Format& format)
{
    return format.metadata == formats::MetadataRoute::PngChunks ||
           format.metadata == formats::MetadataRoute::LibvipsBlocks;
}

VImage handedOver(const VImage& image, const metadata::Carried& carried,
                  const formats::Format& format)
{
    if (carried.empty() || !libvipsWritesTheMetadata(format))
        return image;
    VImage handed = image.copy();
    gchar** fields = vips_image_get_fields(handed.get_image());
    for (gchar** field = fields; *field; ++field) {
        const std::string_view name(*field);
        if (carried.hasExif() && (name.starts_with("exif-") || name == "jpeg-thumbnail-data"))
            handed.remove(*field);
    }
    g_strfreev(fields);
    if (const std::string exif = carried.exifBlock(); !exif.empty())
        setBlob(handed, VIPS_META_EXIF_NAME, exifMarker + exif);
    if (carried.hasXmp())
        setBlob(handed, VIPS_META_XMP_NAME, carried.xmpPacket());
    return handed;
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

namespace {

std::string blobOf(const VImage& image, const char* name)
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_blob(image.get_image(), name, &data, &size) != 0)
        return {};
    return {static_cast<const char*>(data), size};
}

} // namespace

std::string exifBlockOf(const VImage& image) { return blobOf(image, VIPS_META_EXIF_NAME); }

std::string xmpPacketOf(const VImage& image) { return blobOf(image, VIPS_META_XMP_NAME); }

VImage withOrientationBlock(const VImage& image)
{
    const int orientation = vips_image_get_orientation(image.get_image());
    if (orientation == 1)
        return image;
    VImage oriented = image.copy();
    if (const std::string exif = metadata::orientationBlock(orientation); !exif.empty())
        setBlob(oriented, VIPS_META_EXIF_NAME, exifMarker + exif);
    return oriented;
}

} // namespace vipsio
