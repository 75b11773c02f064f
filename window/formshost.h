#pragma once

#include <QImage>
#include <QPointer>

#include <functional>

class Form1;

// Owns the one window. Touching it through form() loads it anew whenever it
// was unloaded, so callers resolve the form for every statement and never
// keep a pointer to it across a step that processes events.
class FormsHost {
public:
    FormsHost(int twipsPerPixel, QImage photograph);
    ~FormsHost();

    // Called on every load, so that each fresh window gets its handlers.
    void setOnLoad(std::function<void(Form1&)> onLoad);

    Form1& form();
    void unload();

private:
    int twipsPerPixel_;
    QImage photograph_;
    std::function<void(Form1&)> onLoad_;
    QPointer<Form1> form_;
};
