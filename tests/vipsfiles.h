// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Image files made and read through libvips for the renderer's tests, behind
// a plain interface so that test files need not mix Qt's headers with GLib's.

#include <string>
#include <vector>

namespace vipsfiles {

// An image's samples, every band of every pixel in order, as numbers.
struct Samples {
    int width = 0;
    int height = 0;
    int bands = 0;
    std::string format;         // "uchar", "ushort", "float"
    std::string interpretation; // "srgb", "b-w", "rgb16", "grey16", ...
    std::vector<double> values;
};

// Starts libvips once; later calls do nothing.
void start();

// The whole file, decoded (every frame of an animation one under another
// when asked); width 0 when it cannot be read.
Samples read(const std::string& path, bool everyFrame = false);

// Writes the samples to a file whose suffix names the format; `saveOptions`
// in libvips's option syntax ("[lossless]"). Returns false on failure.
bool write(const Samples& image, const std::string& path, const std::string& saveOptions = "");

// Writes `frames` frames of `width` x `height` one after another as an
// animation (GIF or WebP) with the given delay in milliseconds and loop count.
bool writeAnimation(const std::string& path, int width, int height, int frames, int delay,
                    int loop);

// Writes a small JPEG carrying EXIF Orientation and Artist.
bool writeJpegWithExif(const std::string& path, int width, int height, int orientation,
                       const std::string& artist);

// A metadata field of a file: an integer (or -1 when absent), or a string
// (empty when absent).
int intField(const std::string& path, const std::string& name);
std::string stringField(const std::string& path, const std::string& name);
std::vector<int> delays(const std::string& path);

} // namespace vipsfiles
