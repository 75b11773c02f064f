// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPointer>

#include <functional>

class Form1;

// Owns the one window. Touching it through form() loads it anew whenever it
// was unloaded, so callers resolve the form for every statement and never
// keep a pointer to it across a step that processes events.
//
// An unloaded window takes no more input but stays on screen until the fresh
// one, loaded in its place and at its size, has been drawn over it: the
// screen never shows what lies behind the window.
class FormsHost {
public:
    FormsHost(int twipsPerPixel, QImage photograph);
    ~FormsHost();

    // Called on every load, so that each fresh window gets its handlers.
    void setOnLoad(std::function<void(Form1&)> onLoad);

    Form1& form();
    void unload();

private:
    void takePlaceOfLeaving(Form1& fresh);

    int twipsPerPixel_;
    QImage photograph_;
    std::function<void(Form1&)> onLoad_;
    QPointer<Form1> form_;
    QPointer<Form1> leaving_; // unloaded, still shown until its successor is drawn
};
