// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtpicturebox.h"

#include "colourconversion.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace platform {

namespace {

constexpr int borderWidth = 2;

// To assistive technology a picture box is an image, named as its
// accessible name says, of the size of its inner area.
class AccessiblePictureBox : public QAccessibleWidget, public QAccessibleImageInterface {
public:
    explicit AccessiblePictureBox(QtPictureBox* box) : QAccessibleWidget(box, QAccessible::Graphic)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ImageInterface)
            return static_cast<QAccessibleImageInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString imageDescription() const override { return text(QAccessible::Name); }
    QSize imageSize() const override { return box()->contentsRect().size(); }
    QPoint imagePosition() const override
    {
        return box()->mapToGlobal(box()->contentsRect().topLeft());
    }

private:
    const QtPictureBox* box() const { return static_cast<const QtPictureBox*>(widget()); }
};

QAccessibleInterface* accessiblePictureBox(const QString& className, QObject* object)
{
    if (className == QtPictureBox::staticMetaObject.className())
        return new AccessiblePictureBox(static_cast<QtPictureBox*>(object));
    return nullptr;
}

} // namespace

QtPictureBox::QtPictureBox(int twipsPerPixel, QImage picture, QWidget* parent)
    : QFrame(parent), twipsPerPixel_(twipsPerPixel), picture_(std::move(picture))
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(borderWidth);
    setFocusPolicy(Qt::StrongFocus);
    static const bool accessibleFactoryInstalled =
        (QAccessible::installFactory(accessiblePictureBox), true);
    Q_UNUSED(accessibleFactoryInstalled);
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
    // Focus shows once the keyboard has moved it in this window, as on Qt's
    // own controls: the border turns the highlight colour, as the frame of a
    // focused line edit does. The picture itself is never covered.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawPath([this] {
            QPainterPath border;
            border.addRect(rect());
            border.addRect(contentsRect());
            return border;
        }());
    }
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
