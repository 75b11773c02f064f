// SPDX-License-Identifier: GPL-3.0-or-later
#include "program.h"

#include <QTimer>

// Ending the program cannot be undone in a process, so these run on their own,
// and each ends the event loop that QCoreApplication::exec() runs.
class QuitTest : public QObject {
    Q_OBJECT

private slots:
    void quitDuringALoopEndsTheEventLoopWithStatusZero();
    void closingTheWindowEndsTheEventLoopWithStatusZero();
};

void QuitTest::quitDuringALoopEndsTheEventLoopWithStatusZero()
{
    Program program;
    program.type("4");
    program.click(program.form().cmdGo());
    QTimer::singleShot(0, [&] { program.click(program.form().Quit()); });
    exitIfStillRunning();
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!program.form().isVisible());
    QCOMPARE(program.runIntervals(4), 0);
}

void QuitTest::closingTheWindowEndsTheEventLoopWithStatusZero()
{
    Program program;
    QTimer::singleShot(0, [&] { program.form().close(); });
    exitIfStillRunning();
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!program.form().isVisible());
}

QTEST_MAIN(QuitTest)
#include "tst_quit.moc"
