#include "formshost.h"

#include "form1.h"

FormsHost::FormsHost(int twipsPerPixel, QImage photograph)
    : twipsPerPixel_(twipsPerPixel), photograph_(std::move(photograph))
{
}

FormsHost::~FormsHost() { delete form_.data(); }

void FormsHost::setOnLoad(std::function<void(Form1&)> onLoad) { onLoad_ = std::move(onLoad); }

Form1& FormsHost::form()
{
    if (form_.isNull()) {
        form_ = new Form1(twipsPerPixel_, photograph_);
        if (onLoad_)
            onLoad_(*form_);
    }
    return *form_;
}

void FormsHost::unload()
{
    if (form_.isNull())
        return;
    // The window goes at once; the object is deleted from the event loop,
    // since unloading usually runs inside one of its own buttons' clicks.
    Form1* unloaded = form_.data();
    form_.clear();
    unloaded->disconnect();
    unloaded->setEnabled(false); // clicks already queued for it are dropped
    unloaded->hide();
    unloaded->deleteLater();
}
