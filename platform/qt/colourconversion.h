// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

#include <QRgb>

namespace platform {

// Colour values keep red in the low byte; Qt's QRgb keeps blue there.
inline Colour colourFromQRgb(QRgb pixel)
{
    return Colour(qRed(pixel)) | Colour(qGreen(pixel)) << 8 | Colour(qBlue(pixel)) << 16;
}

inline QRgb qRgbFromColour(Colour colour)
{
    return qRgb(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

} // namespace platform
