// SPDX-License-Identifier: GPL-3.0-or-later
#include "program.h"
#include "qtpicturebox.h"

#include <QLocale>
#include <QTimer>
#include <QWindow>

#include <set>

using namespace std::chrono_literals;
using transform::Branch;

namespace {

QString decimal(double value) { return QLocale::system().toString(value); }

bool hasWaitCursor(QWidget& widget) { return widget.cursor().shape() == Qt::WaitCursor; }
bool hasDefaultCursor(QWidget& widget) { return widget.cursor().shape() == Qt::ArrowCursor; }

void postClick(QWidget* widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            widget,
            new QMouseEvent(type, centre, global, Qt::LeftButton,
                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                            Qt::NoModifier));
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void initialState_data();
    void initialState();
    void goClampsTheParameter_data();
    void goClampsTheParameter();
    void goStaysDisabledUntilRestart();
    void waitCursorUntilTheFirstPassEnds();
    void restartDuringALoopThenTheLoopDrawsOnTheFreshWindow_data();
    void restartDuringALoopThenTheLoopDrawsOnTheFreshWindow();
    void restartsFasterThanTheIntervalKeepThePhotograph();
    void freshWindowCoversTheOldOneBeforeItGoes();
    void focusAfterRestartIsOnTheFirstTabStop();
    void laterGoReplacesTheRunningLoop();
    void restartQueuedBeforeGosEventStep();
    void rejectedTextShowsAMessageAndKeepsTheWindow_data();
    void rejectedTextShowsAMessageAndKeepsTheWindow();
    void rejectedTextLeavesARunningLoopGoing();
    void passStartsStayAnIntervalApartWhateverIsClicked();
};

void CommandsTest::initialState_data()
{
    QTest::addColumn<bool>("afterRestart");
    QTest::newRow("after start") << false;
    QTest::newRow("after Restart") << true;
}

void CommandsTest::initialState()
{
    QFETCH(bool, afterRestart);
    Program program;
    if (afterRestart) {
        program.type("7");
        program.click(program.form().cmdGo());
        QVERIFY(program.rendered(7.0f));
        program.click(program.form().cmdRestart());
    }
    Form1& form = program.form();
    QVERIFY(form.isVisible());
    QVERIFY(program.showsPhotograph());
    QVERIFY(form.txtBrightness()->text().isEmpty());
    for (QPushButton* button : {form.cmdGo(), form.cmdRestart(), form.Quit()})
        QVERIFY(button->isEnabled());
    QVERIFY(hasDefaultCursor(form));
    QCOMPARE(form.PicTo()->ScaleWidth(), float(form.PicTo()->retainedImage().width() * 12));
}

void CommandsTest::goClampsTheParameter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("a");
    QTest::newRow("3") << "3" << 4.0f;
    QTest::newRow("-10") << "-10" << 4.0f;
    QTest::newRow("0") << "0" << 4.0f;
    QTest::newRow("4.5") << decimal(4.5) << 4.5f;
    QTest::newRow("100") << "100" << 100.0f;
}

void CommandsTest::goClampsTheParameter()
{
    QFETCH(QString, text);
    QFETCH(float, a);
    Program program;
    program.type(text);
    program.click(program.form().cmdGo());
    QVERIFY(program.rendered(a));
    QCOMPARE(program.runIntervals(3), 3);
    QVERIFY(program.rendered(a));
}

void CommandsTest::goStaysDisabledUntilRestart()
{
    Program program;
    program.type("5");
    program.click(program.form().cmdGo());
    QVERIFY(!program.form().cmdGo()->isEnabled());
    QCOMPARE(program.runIntervals(3), 3);
    QVERIFY(!program.form().cmdGo()->isEnabled());
    program.click(program.form().cmdGo());
    QCOMPARE(program.runIntervals(1), 1);
    QVERIFY(!program.form().cmdGo()->isEnabled());
    program.click(program.form().cmdRestart());
    QVERIFY(program.form().cmdGo()->isEnabled());
}

void CommandsTest::waitCursorUntilTheFirstPassEnds()
{
    Program program;
    program.type("4");
    bool waitCursorDuringEventStep = false;
    bool goDisabledDuringEventStep = false;
    bool photographDuringEventStep = false;
    // Runs inside Go's event step, before the parameter is read.
    QTimer::singleShot(0, [&] {
        waitCursorDuringEventStep = hasWaitCursor(program.form());
        goDisabledDuringEventStep = !program.form().cmdGo()->isEnabled();
        photographDuringEventStep = program.showsPhotograph();
    });
    program.click(program.form().cmdGo());
    QVERIFY(waitCursorDuringEventStep);
    QVERIFY(goDisabledDuringEventStep);
    QVERIFY(photographDuringEventStep);
    QCOMPARE(program.loop.passesRun(), 1);
    QVERIFY(program.rendered(4.0f));
    QVERIFY(hasDefaultCursor(program.form()));
}

void CommandsTest::restartDuringALoopThenTheLoopDrawsOnTheFreshWindow_data()
{
    QTest::addColumn<int>("intoTheInterval"); // ms after the last pass started
    QTest::newRow("at a pass") << 0;
    QTest::newRow("mid-interval") << 120;
    QTest::newRow("just before the next pass") << 249;
}

void CommandsTest::restartDuringALoopThenTheLoopDrawsOnTheFreshWindow()
{
    QFETCH(int, intoTheInterval);
    Program program;
    program.type(decimal(4.5));
    program.click(program.form().cmdGo());
    QCOMPARE(program.runIntervals(1), 1);
    program.ticker.advance(std::chrono::milliseconds(intoTheInterval));
    const Form1* before = &program.form();
    program.click(program.form().cmdRestart());
    QVERIFY(&program.form() != before);
    QVERIFY(program.form().txtBrightness()->text().isEmpty());
    QVERIFY(program.form().cmdGo()->isEnabled());
    // The photograph stays a whole interval, wherever in the last one Restart fell.
    program.ticker.advance(Program::interval - 1ms);
    QVERIFY(program.showsPhotograph());
    const int passes = program.loop.passesRun();
    program.ticker.advance(1ms);
    QCOMPARE(program.loop.passesRun(), passes + 1);
    QVERIFY(program.rendered(4.5f));
}

void CommandsTest::restartsFasterThanTheIntervalKeepThePhotograph()
{
    Program program;
    program.type("9");
    program.click(program.form().cmdGo());
    const int passes = program.loop.passesRun();
    // Eight Restarts a second for two seconds: the loop holds its passes back.
    for (int i = 0; i < 16; ++i) {
        program.click(program.form().cmdRestart());
        program.ticker.advance(125ms);
        QVERIFY(program.showsPhotograph());
    }
    QCOMPARE(program.loop.passesRun(), passes);
    QCOMPARE(program.runIntervals(1), 1);
    QVERIFY(program.rendered(9.0f));
}

void CommandsTest::freshWindowCoversTheOldOneBeforeItGoes()
{
    Program program;
    program.form().move(140, 90);
    program.form().resize(program.form().size() + QSize(30, 20));
    QPointer<Form1> before = &program.form();
    const QRect place = before->geometry();
    // Whether the old window was still shown when the fresh one first appeared.
    struct ExposeWatch : QObject {
        QPointer<Form1> old;
        std::optional<bool> oldShownAtExpose;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            auto* window = qobject_cast<QWindow*>(watched);
            if (event->type() == QEvent::Expose && window && window->isExposed() && old &&
                window != old->windowHandle() && !oldShownAtExpose)
                oldShownAtExpose = old->isVisible();
            return false;
        }
    } watch;
    watch.old = before;
    qApp->installEventFilter(&watch);
    program.click(program.form().cmdRestart());
    QTRY_VERIFY(before.isNull());
    qApp->removeEventFilter(&watch);
    QVERIFY(watch.oldShownAtExpose.has_value());
    QVERIFY(*watch.oldShownAtExpose);
    QCOMPARE(program.form().geometry(), place);
}

void CommandsTest::focusAfterRestartIsOnTheFirstTabStop()
{
    Program program;
    QTest::keyClick(program.form().PicFrom(), Qt::Key_Tab);
    program.click(program.form().cmdRestart());
    QTRY_COMPARE(QApplication::focusWidget(), program.form().PicFrom());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), program.form().cmdGo());
}

void CommandsTest::laterGoReplacesTheRunningLoop()
{
    Program program;
    program.type("4");
    program.click(program.form().cmdGo());
    program.click(program.form().cmdRestart());
    program.type("100");
    program.click(program.form().cmdGo());
    // The first loop's pass was just now, so the new loop's first pass waits for its turn.
    QVERIFY(program.showsPhotograph());
    QVERIFY(hasWaitCursor(program.form()));

    std::set<Branch> seen;
    for (int i = 0; i < 20; ++i) {
        // One pass an interval: a loop left running beside the new one would double that.
        QCOMPARE(program.runIntervals(1), 1);
        const auto branch = program.rendered(100.0f);
        QVERIFY2(branch, "a pass rendered with another parameter");
        seen.insert(*branch);
    }
    QVERIFY(hasDefaultCursor(program.form()));
    QCOMPARE(seen.size(), std::size_t(2));
}

void CommandsTest::restartQueuedBeforeGosEventStep()
{
    Program program;
    program.type("5");
    QPointer<Form1> before = &program.form();
    postClick(program.form().cmdRestart());
    program.click(program.form().cmdGo());
    // Restart ran inside Go's event step: Go then read the fresh, empty box.
    QVERIFY(&program.form() != before.data());
    QVERIFY(program.message());
    QVERIFY(program.form().cmdGo()->isEnabled());
    QVERIFY(program.showsPhotograph());
    QTRY_VERIFY(before.isNull());
}

void CommandsTest::rejectedTextShowsAMessageAndKeepsTheWindow_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString hint = QString(" Type a value for a, such as %1.").arg(decimal(4.5));
    QTest::newRow("empty") << ""
                           << "\u201c\u201d is not a number." + hint;
    QTest::newRow("abc") << "abc"
                         << "\u201c"
                            "abc\u201d is not a number." +
                                hint;
    QTest::newRow("nan") << "nan"
                         << "\u201cnan\u201d is not a number." + hint;
    QTest::newRow("1e39") << "1e39"
                          << "\u201c"
                             "1e39\u201d is too large." +
                                 hint;
}

void CommandsTest::rejectedTextShowsAMessageAndKeepsTheWindow()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    Program program;
    program.type(text);
    program.click(program.form().cmdGo());
    QVERIFY(program.message());
    QCOMPARE(program.message()->text(), message);
    QVERIFY(program.message()->isVisible());
    QCOMPARE(program.form().txtBrightness()->text(), text);
    QVERIFY(program.form().cmdGo()->isEnabled());
    QVERIFY(hasDefaultCursor(program.form()));
    QVERIFY(program.showsPhotograph());
    QVERIFY(!program.loop.running());

    // Dismissed, the window takes a good value as if nothing had happened.
    program.message()->accept();
    program.type("6");
    program.click(program.form().cmdGo());
    QVERIFY(program.rendered(6.0f));
}

void CommandsTest::rejectedTextLeavesARunningLoopGoing()
{
    Program program;
    program.type("8");
    program.click(program.form().cmdGo());
    program.click(program.form().cmdRestart());
    program.type("abc");
    program.click(program.form().cmdGo());
    QVERIFY(program.message());
    QCOMPARE(program.runIntervals(2), 2);
    QVERIFY(program.rendered(8.0f));
    QCOMPARE(program.form().txtBrightness()->text(), QString("abc"));
}

void CommandsTest::passStartsStayAnIntervalApartWhateverIsClicked()
{
    Program program;
    // Restart and Go as fast as clicks come, with a little time between the cycles.
    for (int i = 0; i < 300; ++i) {
        program.type(QString::number(4 + i % 7));
        program.click(program.form().cmdGo());
        program.click(program.form().cmdRestart());
        program.ticker.advance(7ms);
    }
    const auto& starts = program.passStarts;
    // 2.1 s of clicking: a pass at once, then one each 250 ms.
    QVERIFY2(starts.size() >= 8 && starts.size() <= 9, qPrintable(QString::number(starts.size())));
    for (std::size_t i = 1; i < starts.size(); ++i)
        QVERIFY(starts[i] - starts[i - 1] >= Program::interval);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
