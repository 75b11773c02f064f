// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commands.h"
#include "form1.h"
#include "formshost.h"
#include "imagechecks.h"
#include "manualticker.h"
#include "renderloop.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <vector>

// The whole window program in-process: host, loop and commands as main()
// builds them, with time driven by the test and the branch draws of the
// test's choice (by default lower and upper in turn).
struct Program {
    using Draw = std::function<float()>;
    static constexpr std::chrono::milliseconds interval = RenderLoop::productionInterval;

    explicit Program(Draw chosenDraw = {}) : draw(std::move(chosenDraw)) { host.form().show(); }

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

    // Lets `count` intervals go by; returns how many passes ran meanwhile.
    int runIntervals(int count)
    {
        const int before = loop.passesRun();
        for (int i = 0; i < count; ++i)
            ticker.advance(interval);
        return loop.passesRun() - before;
    }

    // The branch the current PicTo shows as the map of PicFrom at a, if any.
    std::optional<transform::Branch> rendered(float a)
    {
        return renderedBranch(form().PicFrom()->retainedImage(), form().PicTo()->retainedImage(),
                              a);
    }

    bool showsPhotograph() { return form().PicTo()->retainedImage() == freshView(*form().PicTo()); }

    QMessageBox* message() { return form().findChild<QMessageBox*>(); }

    Draw draw;
    std::vector<ManualTicker::Clock::time_point> passStarts;
    ManualTicker ticker;
    FormsHost host{12, embeddedPhoto()};
    RenderLoop loop{host, interval, ticker, [this] {
                        passStarts.push_back(ticker.now());
                        return draw ? draw() : passStarts.size() % 2 ? 0.25f : 0.75f;
                    }};
    Commands commands{host, loop};
};

// For tests that run the event loop until the program ends it: ends it with
// 99 instead should the program never do so.
inline void exitIfStillRunning()
{
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
}
