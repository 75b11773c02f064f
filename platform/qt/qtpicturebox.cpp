#include "qtpicturebox.h"

#include "colourconversion.h"

#include <QPainter>

#include <cmath>

namespace platform {

namespace {
constexpr int borderWidth = 2;
}

QtPictureBox::QtPictureBox(int twipsPerPixel, QImage picture, QWidget* parent)
    : QFrame(parent), twipsPerPixel_(twipsPerPixel), picture_(std::move(picture))
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(borderWidth);
    setFocusPolicy(Qt::StrongFocus);
}

void QtPictureBox::setAutoRedraw(bool /*on*/)
{
    // Qt paints only inside paint events, so drawing always lands in the
    // retained image whatever is asked here.
}

int QtPictureBox::Width() const { return width() * twipsPerPixel_; }
int QtPictureBox::Height() const { return height() * twipsPerPixel_; }

void QtPictureBox::setWidth(int twips)
{
    resize(static_cast<int>(std::lround(double(twips) / twipsPerPixel_)), height());
}

void QtPictureBox::setHeight(int twips)
{
    resize(width(), static_cast<int>(std::lround(double(twips) / twipsPerPixel_)));
}

void QtPictureBox::setScaleMode(ScaleMode mode) { scaleMode_ = mode; }

float QtPictureBox::unitsPerPixel() const
{
    return scaleMode_ == ScaleMode::Pixels ? 1.0f : float(twipsPerPixel_);
}

float QtPictureBox::ScaleWidth() const { return float(retained().width()) * unitsPerPixel(); }
float QtPictureBox::ScaleHeight() const { return float(retained().height()) * unitsPerPixel(); }

bool QtPictureBox::toPixel(const QImage& image, float x, float y, int& px, int& py) const
{
    double fx = x;
    double fy = y;
    if (scaleMode_ != ScaleMode::Pixels) {
        fx /= twipsPerPixel_;
        fy /= twipsPerPixel_;
    }
    // Also false for NaN; past this check truncation is the floor.
    if (!(fx >= 0 && fy >= 0 && fx < image.width() && fy < image.height()))
        return false;
    px = int(fx);
    py = int(fy);
    return true;
}

Colour QtPictureBox::Point(float x, float y) const
{
    const QImage& image = retained();
    int px = 0, py = 0;
    if (!toPixel(image, x, y, px, py))
        return outsideColour;
    return colourFromQRgb(reinterpret_cast<const QRgb*>(image.constScanLine(py))[px]);
}

void QtPictureBox::PSet(float x, float y, Colour colour)
{
    QImage& image = retained();
    int px = 0, py = 0;
    if (!toPixel(image, x, y, px, py))
        return;
    // scanLine() detaches the image first should a copy of it be shared.
    reinterpret_cast<QRgb*>(image.scanLine(py))[px] = qRgbFromColour(colour);
    // One repaint request per batch of pixels, not one per pixel.
    if (!repaintPending_) {
        repaintPending_ = true;
        update(contentsRect());
    }
}

void QtPictureBox::paintEvent(QPaintEvent* event)
{
    repaintPending_ = false;
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), retained());
}

const QImage& QtPictureBox::retainedImage() const { return retained(); }

QImage& QtPictureBox::retained() const
{
    if (size() == retainedForOuter_)
        return retained_;
    retainedForOuter_ = size();
    const QSize inner = contentsRect().size().expandedTo(QSize(0, 0));
    if (inner == retained_.size())
        return retained_;
    // A new size keeps what was drawn; any newly uncovered area shows the
    // picture over the background, as a freshly loaded box would.
    QImage resized(inner, QImage::Format_RGB32);
    resized.fill(palette().color(backgroundRole()));
    QPainter painter(&resized);
    painter.drawImage(0, 0, picture_);
    if (!retained_.isNull())
        painter.drawImage(0, 0, retained_);
    painter.end();
    retained_ = std::move(resized);
    return retained_;
}

} // namespace platform
