// SPDX-License-Identifier: GPL-3.0-or-later
#include "program.h"

#include <QAbstractEventDispatcher>
#include <QFile>

#include <cstdio>

namespace {

// Live widgets, and timers registered by them or by any object beneath them.
struct Census {
    int widgets;
    int timers;
    bool operator==(const Census&) const = default;
};

Census census()
{
    // A window unloaded by Restart leaves once the fresh one is drawn: let it.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QWidgetList widgets = QApplication::allWidgets();
    int timers = 0;
    for (QWidget* widget : widgets)
        timers += int(QAbstractEventDispatcher::instance()->registeredTimers(widget).size());
    return {int(widgets.size()), timers};
}

// Resident and peak resident memory of this process, in KiB.
std::pair<long, long> memoryKiB()
{
    QFile status("/proc/self/status");
    long rss = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').value(0).toLong();
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    return {rss, peak};
}

QByteArray describe(const Census& c)
{
    return QByteArray::number(c.widgets) + " widgets, " + QByteArray::number(c.timers) + " timers";
}

} // namespace

class SoakTest : public QObject {
    Q_OBJECT

private slots:
    void goAndRestartCycles();
};

void SoakTest::goAndRestartCycles()
{
    constexpr int cycles = 1000;
    constexpr int rejectedPresses = 300;
    const auto [startRss, startPeak] = memoryKiB();
    Program program;
    // Each cycle lets the new loop's first pass run.
    const auto cycle = [&](const QString& text) {
        const int passes = program.loop.passesRun();
        program.type(text);
        program.click(program.form().cmdGo());
        program.runIntervals(1);
        const bool passed = program.loop.passesRun() > passes && program.rendered(text.toFloat());
        program.click(program.form().cmdRestart());
        return passed;
    };
    QVERIFY(cycle("4.5"));
    const Census start = census();

    for (int i = 0; i < cycles; ++i) {
        QVERIFY2(cycle(QString::number(4 + i % 50)), qPrintable(QString("cycle %1").arg(i)));
        const Census now = census();
        QVERIFY2(now == start, describe(now) + " after cycle " + QByteArray::number(i) +
                                   "; at start " + describe(start));
    }

    const QStringList rejected = {"", "abc", "nan", "1e39"};
    for (int i = 0; i < rejectedPresses; ++i) {
        program.type(rejected[i % rejected.size()]);
        program.click(program.form().cmdGo());
        QVERIFY2(program.message(), qPrintable(QString("press %1").arg(i)));
        program.message()->accept();
        QVERIFY(program.form().cmdGo()->isEnabled());
        const Census now = census();
        QVERIFY2(now == start, describe(now) + " after rejected press " + QByteArray::number(i));
    }

    const auto [endRss, endPeak] = memoryKiB();
    std::printf("soak: %d cycles and %d rejected presses; %d passes; resident %ld KiB at start, "
                "%ld KiB at end; peak %ld KiB at start, %ld KiB at end\n",
                cycles, rejectedPresses, program.loop.passesRun(), startRss, endRss, startPeak,
                endPeak);
#ifndef __SANITIZE_ADDRESS__
    // Under AddressSanitizer freed memory is held in quarantine, and LeakSanitizer
    // checks for leaks at exit instead.
    QVERIFY2(endRss - startRss < 64L * 1024, "resident memory grew by more than 64 MiB");
#endif
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
