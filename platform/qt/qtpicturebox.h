// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

#include <QFrame>
#include <QImage>

namespace platform {

// A picture box on a Qt frame: a sunken 2-pixel border around a retained
// RGB32 image of the inner area, which starts as the background colour with
// the picture drawn at its top-left corner.
class QtPictureBox : public QFrame, public PictureBox {
    Q_OBJECT

public:
    QtPictureBox(int twipsPerPixel, QImage picture, QWidget* parent = nullptr);

    void setAutoRedraw(bool on) override;
    int Width() const override;
    int Height() const override;
    void setWidth(int twips) override;
    void setHeight(int twips) override;
    void setScaleMode(ScaleMode mode) override;
    float ScaleWidth() const override;
    float ScaleHeight() const override;
    Colour Point(float x, float y) const override;
    void PSet(float x, float y, Colour colour) override;

    const QImage& retainedImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Qt defers resize events of hidden widgets, so the retained image
    // follows the box's size whenever it is used instead; the check is one
    // size comparison, as Point and PSet run once per pixel.
    QImage& retained() const;
    bool toPixel(const QImage& image, float x, float y, int& px, int& py) const;
    float unitsPerPixel() const;

    int twipsPerPixel_;
    QImage picture_;
    mutable QImage retained_;
    mutable QSize retainedForOuter_;
    bool repaintPending_ = false;
    ScaleMode scaleMode_ = ScaleMode::Twips;
};

} // namespace platform
