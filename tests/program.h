#pragma once

#include "commands.h"
#include "form1.h"
#include "formshost.h"
#include "imagechecks.h"
#include "renderloop.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <chrono>

// The whole window program in-process: host, loop and commands as main()
// builds them, with a pacing interval of the test's choice.
struct Program {
    explicit Program(std::chrono::milliseconds interval = std::chrono::milliseconds(20))
        : loop(host, interval)
    {
        host.form().show();
    }

    ~Program()
    {
        host.unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Form1& form() { return host.form(); }

    void type(const QString& text)
    {
        form().txtBrightness()->clear();
        QTest::keyClicks(form().txtBrightness(), text);
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // The branch the current PicTo shows as the map of PicFrom at a, if any.
    std::optional<transform::Branch> rendered(float a)
    {
        return renderedBranch(form().PicFrom()->retainedImage(), form().PicTo()->retainedImage(),
                              a);
    }

    bool showsPhotograph() { return form().PicTo()->retainedImage() == freshView(*form().PicTo()); }

    QMessageBox* message() { return form().findChild<QMessageBox*>(); }

    // Waits until the loop has finished `count` more passes.
    bool waitForPasses(int count, int timeoutMs = 5000)
    {
        const int target = loop.passesRun() + count;
        return QTest::qWaitFor([&] { return loop.passesRun() >= target; }, timeoutMs);
    }

    FormsHost host{12, embeddedPhoto()};
    RenderLoop loop;
    Commands commands{host, loop};
};
