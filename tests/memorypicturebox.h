// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

#include <algorithm>
#include <cmath>
#include <vector>

// An in-memory picture box for tests: outer size in pixels with a 2-pixel
// border, a retained image of the inner area, and a count of Point reads.
class MemoryPictureBox : public platform::PictureBox {
public:
    static constexpr int border = 2;

    MemoryPictureBox(int outerWidth, int outerHeight, int twipsPerPixel = 12)
        : twipsPerPixel_(twipsPerPixel)
    {
        resize(outerWidth, outerHeight);
    }

    void setAutoRedraw(bool on) override { autoRedraw = on; }
    int Width() const override { return outerWidth_ * twipsPerPixel_; }
    int Height() const override { return outerHeight_ * twipsPerPixel_; }
    void setWidth(int twips) override { resize(toPixels(twips), outerHeight_); }
    void setHeight(int twips) override { resize(outerWidth_, toPixels(twips)); }
    void setScaleMode(platform::ScaleMode mode) override { scaleMode = mode; }
    float ScaleWidth() const override { return float(innerWidth()) * unitsPerPixel(); }
    float ScaleHeight() const override { return float(innerHeight()) * unitsPerPixel(); }

    platform::Colour Point(float x, float y) const override
    {
        ++pointReads;
        const int index = indexOf(x, y);
        if (index < 0) {
            ++outsideReads;
            return platform::outsideColour;
        }
        return pixels_[index];
    }

    void PSet(float x, float y, platform::Colour colour) override
    {
        const int index = indexOf(x, y);
        if (index >= 0)
            pixels_[index] = colour;
    }

    int innerWidth() const { return std::max(0, outerWidth_ - 2 * border); }
    int innerHeight() const { return std::max(0, outerHeight_ - 2 * border); }
    platform::Colour at(int x, int y) const { return pixels_[y * innerWidth() + x]; }
    void fill(platform::Colour colour) { pixels_.assign(pixels_.size(), colour); }
    void set(int x, int y, platform::Colour colour) { pixels_[y * innerWidth() + x] = colour; }
    const std::vector<platform::Colour>& pixels() const { return pixels_; }

    bool autoRedraw = false;
    platform::ScaleMode scaleMode = platform::ScaleMode::Twips;
    mutable int pointReads = 0;
    mutable int outsideReads = 0;

private:
    int toPixels(int twips) const { return int(std::lround(double(twips) / twipsPerPixel_)); }
    float unitsPerPixel() const
    {
        return scaleMode == platform::ScaleMode::Pixels ? 1.0f : float(twipsPerPixel_);
    }

    int indexOf(float x, float y) const
    {
        const double px = std::floor(x / unitsPerPixel());
        const double py = std::floor(y / unitsPerPixel());
        if (px < 0 || py < 0 || px >= innerWidth() || py >= innerHeight())
            return -1;
        return int(py) * innerWidth() + int(px);
    }

    void resize(int outerWidth, int outerHeight)
    {
        outerWidth_ = outerWidth;
        outerHeight_ = outerHeight;
        pixels_.assign(std::size_t(innerWidth()) * std::size_t(innerHeight()), 0);
    }

    int twipsPerPixel_;
    int outerWidth_ = 0;
    int outerHeight_ = 0;
    std::vector<platform::Colour> pixels_;
};
