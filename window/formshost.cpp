// SPDX-License-Identifier: GPL-3.0-or-later
#include "formshost.h"

#include "form1.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>

namespace {

// Unloaded windows leave from the event loop: unloading usually runs inside
// one of the window's own buttons' clicks.
void retire(Form1* unloaded)
{
    if (!unloaded)
        return;
    unloaded->hide();
    unloaded->deleteLater();
}

bool isExposed(const Form1& form)
{
    return form.windowHandle() != nullptr && form.windowHandle()->isExposed();
}

// Retires a window once its successor has been exposed (mapped and drawn,
// for Qt paints an exposed window before the event returns). Should the
// successor never be exposed (a window system that keeps it off screen), the
// window goes after a while all the same rather than linger disabled.
class Retirement : public QObject {
public:
    Retirement(Form1& leaving, QWindow& successor) : QObject(&leaving), leaving_(&leaving)
    {
        successor.installEventFilter(this);
        QTimer::singleShot(2000, this, [this] { retire(leaving_); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed())
            // Queued, so that the successor handles its expose event (and
            // paints) before the window beneath it goes.
            QMetaObject::invokeMethod(
                this, [this] { retire(leaving_); }, Qt::QueuedConnection);
        return false;
    }

private:
    Form1* leaving_;
};

} // namespace

FormsHost::FormsHost(int twipsPerPixel, QImage photograph)
    : twipsPerPixel_(twipsPerPixel), photograph_(std::move(photograph))
{
}

FormsHost::~FormsHost()
{
    delete leaving_.data();
    delete form_.data();
}

void FormsHost::setOnLoad(std::function<void(Form1&)> onLoad) { onLoad_ = std::move(onLoad); }

Form1& FormsHost::form()
{
    if (form_.isNull()) {
        form_ = new Form1(twipsPerPixel_, photograph_);
        if (leaving_)
            takePlaceOfLeaving(*form_);
        if (onLoad_)
            onLoad_(*form_);
    }
    return *form_;
}

void FormsHost::takePlaceOfLeaving(Form1& fresh)
{
    if (!leaving_->isVisible()) {
        retire(leaving_);
        return;
    }
    fresh.setGeometry(leaving_->geometry());
    fresh.setWindowState(leaving_->windowState() & ~Qt::WindowMinimized);
    fresh.winId(); // the native window, so that its expose can be watched
    new Retirement(*leaving_, *fresh.windowHandle());
}

void FormsHost::unload()
{
    if (form_.isNull())
        return;
    Form1* unloaded = form_.data();
    form_.clear();
    unloaded->disconnect();
    unloaded->setEnabled(false); // clicks already queued for it are dropped
    // Of two unloaded windows, the one on screen stays until a fresh one
    // covers it: a window unloaded again before it was ever exposed goes now.
    if (leaving_ && leaving_->isVisible() && !isExposed(*unloaded)) {
        retire(unloaded);
        return;
    }
    retire(leaving_);
    leaving_ = unloaded;
}
