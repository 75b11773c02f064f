#pragma once

#include <QImage>

#include <cstdint>

namespace platform {

// Where an image's samples lie, for mapping them one by one: rows of
// `width` pixels, each of `samplesPerPixel` samples of `bitsPerSample` bits
// (8, or 16 in machine byte order), the first `colourSamples` of which are
// colour; the rest (alpha, padding) are to be left alone.
struct ImageSamples {
    std::uint8_t* bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    int samplesPerPixel;
    int colourSamples;
    int bitsPerSample;
};

// Converts an image to a format whose samples can be mapped one by one,
// keeping its depth, its alpha and whether it is greyscale; indexed images
// are expanded.
QImage mappableImage(const QImage& image);

// The samples of an image that mappableImage returned.
ImageSamples samplesOf(QImage& image);

} // namespace platform
