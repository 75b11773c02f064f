// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace platform {

// A colour value: red in bits 0-7, green in 8-15, blue in 16-23.
using Colour = std::int32_t;

// What reading a point outside a picture box's inner area yields.
inline constexpr Colour outsideColour = -1;

enum class ScaleMode { Twips = 1, Pixels = 3 };

// A box that shows a picture and keeps a retained image of what it shows.
// Width and Height are the outer size in twips; ScaleWidth, ScaleHeight,
// Point and PSet work in the current scale mode's units.
class PictureBox {
public:
    virtual ~PictureBox() = default;

    virtual void setAutoRedraw(bool on) = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void setWidth(int twips) = 0;
    virtual void setHeight(int twips) = 0;
    virtual void setScaleMode(ScaleMode mode) = 0;
    virtual float ScaleWidth() const = 0;
    virtual float ScaleHeight() const = 0;
    virtual Colour Point(float x, float y) const = 0;
    virtual void PSet(float x, float y, Colour colour) = 0;
};

} // namespace platform
