#include "vipsio/carry.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

using vips::VImage;

namespace vipsio {

metadata::Carried carriedFrom(const std::string& path, const std::string& loader, bool strip,
                              Error& error)
{
    if (strip || path.empty())
        return {};
    for (const char* known : {"jpegload", "pngload", "tiffload", "webpload", "heifload"})
        if (loader.starts_with(known))
            return metadata::Carried::read(path, error);
    return {};
}

namespace {

void setBlob(VImage& image, const char* name, const std::string& bytes)
{
    void* copy = std::malloc(bytes.size());
    if (!copy)
        return;
    std::memcpy(copy, bytes.data(), bytes.size());
    image.set(
        name,
        [](void* data, void*) {
            std::free(data);
            return 0;
        },
        copy, bytes.size());
}

} // namespace

VImage handedOver(const VImage& image, const metadata::Carried& carried, const std::string& format,
                  bool exiv2Writes)
{
    if (carried.empty() || (!exiv2Writes && format != "png"))
        return image;
    VImage handed = image.copy();
    if (format == "png" && !exiv2Writes) {
        if (const std::string exif = carried.exifBlock(); !exif.empty())
            setBlob(handed, VIPS_META_EXIF_NAME, exif);
        if (carried.hasXmp())
            setBlob(handed, VIPS_META_XMP_NAME, carried.xmpPacket());
        return handed;
    }
    gchar** fields = vips_image_get_fields(handed.get_image());
    for (gchar** field = fields; *field; ++field) {
        const std::string_view name(*field);
        if ((carried.hasExif() &&
             (name.starts_with("exif-") || name == "jpeg-thumbnail-data")) ||
            (carried.hasXmp() && name == VIPS_META_XMP_NAME) ||
            (carried.hasIptc() &&
             (name == VIPS_META_IPTC_NAME || name == VIPS_META_PHOTOSHOP_NAME)))
            handed.remove(*field);
    }
    g_strfreev(fields);
    return handed;
}

} // namespace vipsio
