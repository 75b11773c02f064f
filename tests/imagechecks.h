// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourconversion.h"
#include "colourmap.h"
#include "qtpicturebox.h"

#include <QImage>
#include <QPainter>

#include <optional>

inline QImage embeddedPhoto()
{
    return QImage(":/photo.bmp").convertToFormat(QImage::Format_RGB32);
}

// What a freshly loaded box of the given outer size shows.
inline QImage freshView(const platform::QtPictureBox& box, QSize outer)
{
    QImage view(outer - QSize(4, 4), QImage::Format_RGB32);
    view.fill(box.palette().color(box.backgroundRole()));
    QPainter painter(&view);
    painter.drawImage(0, 0, embeddedPhoto());
    return view;
}

inline QImage freshView(const platform::QtPictureBox& box) { return freshView(box, box.size()); }

inline QImage mapped(const QImage& source, float a, transform::Branch branch)
{
    QImage result(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            result.setPixel(x, y,
                            platform::qRgbFromColour(transform::mapColour(
                                platform::colourFromQRgb(source.pixel(x, y)), a, branch)));
    return result;
}

// The branch in which `rendered` is the colour map of `source` at a, if any.
inline std::optional<transform::Branch> renderedBranch(const QImage& source, const QImage& rendered,
                                                       float a)
{
    for (transform::Branch branch : {transform::Branch::Lower, transform::Branch::Upper})
        if (rendered.convertToFormat(QImage::Format_RGB32) == mapped(source, a, branch))
            return branch;
    return std::nullopt;
}
