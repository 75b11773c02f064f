#include "imagesamples.h"

namespace platform {

namespace {

bool sixteenBitsPerChannel(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

} // namespace

QImage mappableImage(const QImage& image)
{
    const bool alpha = image.hasAlphaChannel();
    if (image.format() == QImage::Format_Grayscale16)
        return image;
    if (image.format() == QImage::Format_Grayscale8)
        return image;
    if (sixteenBitsPerChannel(image))
        return image.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    const bool indexed = image.format() == QImage::Format_Indexed8 ||
                         image.format() == QImage::Format_Mono ||
                         image.format() == QImage::Format_MonoLSB;
    if (indexed && !alpha && image.isGrayscale())
        return image.convertToFormat(QImage::Format_Grayscale8);
    // Byte order red, green, blue, alpha whatever the machine's endianness.
    return image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
}

ImageSamples samplesOf(QImage& image)
{
    ImageSamples samples{
        image.bits(), image.bytesPerLine(), image.width(), image.height(), 4, 3, 8};
    switch (image.format()) {
    case QImage::Format_Grayscale8:
        samples.samplesPerPixel = samples.colourSamples = 1;
        break;
    case QImage::Format_Grayscale16:
        samples.samplesPerPixel = samples.colourSamples = 1;
        samples.bitsPerSample = 16;
        break;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
        samples.bitsPerSample = 16;
        break;
    default:
        break;
    }
    return samples;
}

} // namespace platform
