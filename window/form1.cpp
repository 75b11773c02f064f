// SPDX-License-Identifier: GPL-3.0-or-later
#include "form1.h"

#include "qtpicturebox.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace {

QLabel* wrappingLabel(const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// To assistive technology the form is a window, named by its caption.
QAccessibleInterface* accessibleForm(const QString& className, QObject* object)
{
    if (className == Form1::staticMetaObject.className())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

Form1::Form1(int twipsPerPixel, const QImage& photograph, QWidget* parent)
    : QWidget(parent), twipsPerPixel_(twipsPerPixel)
{
    setObjectName("Form1");
    setWindowTitle("Form1");
    static const bool accessibleFactoryInstalled =
        (QAccessible::installFactory(accessibleForm), true);
    Q_UNUSED(accessibleFactoryInstalled);
    // Small enough that every caption is whole inside its control.
    QFont small = font();
    small.setPixelSize(int(std::lround(132.0 / twipsPerPixel)));
    setFont(small);
    resize(fromTwips(0, 0, 7500, 5328).size());

    cmdRestart_ =
        place(new QPushButton("Restart", this), "cmdRestart", fromTwips(6000, 3120, 1332, 612));
    quit_ = place(new QPushButton("Quit", this), "Quit", fromTwips(4560, 4200, 1452, 612));
    txtBrightness_ = place(new QLineEdit(this), "txtBrightness", fromTwips(1560, 3240, 615, 375));
    picTo_ = place(new platform::QtPictureBox(twipsPerPixel, photograph, this), "PicTo",
                   fromTwips(3360, 120, 2292, 2532));
    cmdGo_ = place(new QPushButton("Go", this), "cmdGo", fromTwips(4560, 3120, 1455, 615));
    picFrom_ = place(new platform::QtPictureBox(twipsPerPixel, photograph, this), "PicFrom",
                     fromTwips(120, 120, 2292, 2532));
    label2_ = place(wrappingLabel("if a < 4 then a = 4       in order to prevent error", this),
                    "Label2", fromTwips(720, 3960, 1452, 732));
    label1_ =
        place(wrappingLabel("parameter value?", this), "Label1", fromTwips(720, 3240, 732, 372));

    // What screen readers announce: the box by its prompt, with the note as
    // its description, and each picture box by what it shows.
    label1_->setBuddy(txtBrightness_);
    txtBrightness_->setAccessibleDescription(label2_->text());
    picFrom_->setAccessibleName("source picture");
    picTo_->setAccessibleName("rendering");

    // Keyboard focus follows the tab index: PicFrom first, cmdRestart last.
    setTabOrder(picFrom_, cmdGo_);
    setTabOrder(cmdGo_, picTo_);
    setTabOrder(picTo_, txtBrightness_);
    setTabOrder(txtBrightness_, quit_);
    setTabOrder(quit_, cmdRestart_);
    picFrom_->setFocus();
}

QRect Form1::fromTwips(int left, int top, int width, int height) const
{
    const auto pixels = [this](int twips) {
        return int(std::lround(double(twips) / twipsPerPixel_));
    };
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

template <typename Control>
Control* Form1::place(Control* control, const char* name, QRect geometry)
{
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->ignore();
    emit closeRequested();
}
