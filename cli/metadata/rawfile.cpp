// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/descriptorio.h"
#include "metadata/held.h"

namespace metadata {

bool holdsRawSensorData(int fd)
{
    startOnce();
    try {
        const Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(new DescriptorIo(fd)));
        if (!image.get())
            return false;
        switch (image->imageType()) {
        case Exiv2::ImageType::cr2:
        case Exiv2::ImageType::crw:
        case Exiv2::ImageType::orf:
        case Exiv2::ImageType::rw2:
        case Exiv2::ImageType::raf:
        case Exiv2::ImageType::mrw:
            return true;
        default:
            break;
        }
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        if (exif.findKey(Exiv2::ExifKey("Exif.Image.DNGVersion")) != exif.end())
            return true;
        // A directory of the sensor's own samples: a colour filter array, or
        // linear raw.
        for (const Exiv2::Exifdatum& datum : exif)
            if (datum.tagName() == "PhotometricInterpretation" &&
                (datum.toLong() == 32803 || datum.toLong() == 34892))
                return true;
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace metadata
