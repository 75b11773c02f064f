// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/thumbnail.h"

#include <cstdlib>
#include <libexif/exif-data.h>
#include <string_view>

namespace saving {

vips::VImage withoutExifThumbnail(const vips::VImage& image)
{
    if (vips_image_get_typeof(image.get_image(), VIPS_META_EXIF_NAME) == 0)
        return image;
    const void* blob = nullptr;
    std::size_t size = 0;
    if (vips_image_get_blob(image.get_image(), VIPS_META_EXIF_NAME, &blob, &size) != 0)
        return image;
    ExifData* exif = exif_data_new();
    // Read and written back as it is: no tag dropped or "fixed" on the way.
    for (const ExifDataOption option :
         {EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION})
        exif_data_unset_option(exif, option);
    exif_data_load_data(exif, static_cast<const unsigned char*>(blob), unsigned(size));
    if (!exif->data) {
        exif_data_unref(exif);
        return image;
    }
    std::free(exif->data);
    exif->data = nullptr;
    exif->size = 0;
    ExifContent* thumbnailTags = exif->ifd[EXIF_IFD_1];
    while (thumbnailTags->count > 0)
        exif_content_remove_entry(thumbnailTags, thumbnailTags->entries[0]);
    unsigned char* saved = nullptr;
    unsigned int savedSize = 0;
    exif_data_save_data(exif, &saved, &savedSize);
    exif_data_unref(exif);
    vips::VImage without = image.copy();
    // libvips rebuilds EXIF from these fields too when it writes.
    gchar** fields = vips_image_get_fields(without.get_image());
    for (gchar** field = fields; *field; ++field)
        if (std::string_view(*field).starts_with("exif-ifd1-") ||
            std::string_view(*field) == "jpeg-thumbnail-data")
            without.remove(*field);
    g_strfreev(fields);
    if (saved) {
        without.set(
            VIPS_META_EXIF_NAME,
            [](void* data, void*) {
                std::free(data);
                return 0;
            },
            saved, savedSize);
    }
    return without;
}

} // namespace saving
